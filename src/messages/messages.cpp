#include "messages/messages.h"

#include <vector>

#include "launcher/run_options.h"
#include "resource_ids.h"

namespace sp {

WideString MessageProductName;

namespace {

constexpr int kStringCapacity = 256;
constexpr std::uint32_t kBoxFlags = host::MB_TOPMOST | host::MB_SETFOREGROUND;

enum class Argument { None, ErrorCode, ProductName };

struct ResultMessage {
    std::uint32_t id;
    Argument argument;
    std::uint32_t caption;
    std::uint32_t icon;
};

// 306 says nothing went wrong, yet it is shown with the error icon: the
// user expected an installation and none happened.
constexpr ResultMessage kResultMessages[] = {
    {IDS_PATCH_FAILED, Argument::ErrorCode, IDS_CAPTION_ERROR, host::MB_ICONERROR},
    {IDS_PATCH_APPLIED, Argument::ProductName, IDS_CAPTION_SUCCESS, host::MB_ICONINFORMATION},
    {IDS_UP_TO_DATE, Argument::ProductName, IDS_CAPTION_UNNECESSARY, host::MB_ICONERROR},
    {IDS_PRODUCT_NOT_FOUND, Argument::None, IDS_CAPTION_ERROR, host::MB_ICONERROR},
    {IDS_WRONG_VERSION, Argument::ProductName, IDS_CAPTION_ERROR, host::MB_ICONERROR},
    {IDS_PATCH_LIST_REQUIRED, Argument::None, IDS_CAPTION_ERROR, host::MB_ICONERROR},
};

const ResultMessage* FindResultMessage(std::uint32_t id) {
    for (const ResultMessage& message : kResultMessages)
        if (message.id == id) return &message;
    return nullptr;
}

}  // namespace

int LoadResourceString(std::uint32_t id, WideString& text) {
    char16_t buffer[kStringCapacity];
    const int length = host::LoadStringW(runOptions.moduleHandle, id, buffer, kStringCapacity);
    text.assign(buffer, length > 0 ? length : 0);
    return length;
}

void ShowResultMessage(std::uint32_t id) {
    if (runOptions.quiet) return;
    // First, before any other call can overwrite it.
    const int errorCode = static_cast<int>(host::GetLastError());

    const ResultMessage* message = FindResultMessage(id);
    if (message == nullptr) return;

    WideString format;
    LoadResourceString(id, format);
    // The formatter cuts the body to this buffer, so a product name of any
    // length can never write past it.
    std::vector<char16_t> body(format.size() + 512);
    const int capacity = static_cast<int>(body.size());
    switch (message->argument) {
        case Argument::ErrorCode:
            host::wnsprintfW(body.data(), capacity, format.c_str(), errorCode);
            break;
        case Argument::ProductName:
            host::wnsprintfW(body.data(), capacity, format.c_str(), MessageProductName.c_str());
            break;
        case Argument::None:
            host::wnsprintfW(body.data(), capacity, format.c_str());
            break;
    }

    WideString caption;
    LoadResourceString(message->caption, caption);
    host::MessageBoxW(nullptr, body.data(), caption.c_str(), kBoxFlags | message->icon);
}

}  // namespace sp
