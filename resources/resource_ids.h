#ifndef SP_RESOURCE_IDS_H
#define SP_RESOURCE_IDS_H

// String table: the result messages and their captions.
#define IDS_PATCH_FAILED 300
#define IDS_PATCH_APPLIED 301
#define IDS_UP_TO_DATE 306
#define IDS_PRODUCT_NOT_FOUND 307
#define IDS_WRONG_VERSION 308
#define IDS_BAD_COMMAND_LINE 309
#define IDS_PATCH_LIST_REQUIRED 310
#define IDS_CAPTION_ERROR 311
#define IDS_CAPTION_SUCCESS 312
#define IDS_CAPTION_UNNECESSARY 313

// Patch-information texts (type TXT) are numbered from here in list order.
#define IDR_PATCH_INFO_FIRST 206

#ifndef RC_INVOKED
// The package is a named resource: "IDR_MSP" is a string name, deliberately not a number, so
// IDR_MSP is never defined.
#define IDR_MSP_NAME u"IDR_MSP"
#define RT_MSP_NAME u"MSP"
#define RT_TXT_NAME u"TXT"
#endif

#endif
