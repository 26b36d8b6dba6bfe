// A tiny Windows program with a known behaviour, for checking the Wine test
// harness against what Wine really prints: it sets the thread locale to
// German, shows three message boxes and exits with the code given as its
// only argument (default 0).
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT));

    // Umlauts and a sharp s, a line feed and quotes: the escapes Wine uses.
    MessageBoxW(nullptr, L"Gr\u00f6\u00dfe\n\"x\"", L"Probe",
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);

    // Longer than Wine prints: the trace keeps about 290 characters of it.
    std::wstring longBody;
    for (int i = 0; i < 40; ++i) longBody += L"0123456789";
    MessageBoxW(nullptr, longBody.c_str(), L"Long", MB_OK | MB_ICONERROR);

    // A tab, a backslash, a character outside the basic plane (a surrogate
    // pair) and no caption at all.
    MessageBoxW(nullptr, L"Tab\tBack\\slash \U0001F600", nullptr, MB_YESNO | MB_ICONWARNING);

    return argc > 1 ? static_cast<int>(std::wcstoul(argv[1], nullptr, 10)) : 0;
}
