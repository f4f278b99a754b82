// UTF-8 (the program's strings) to UTF-16 (Windows' wide-character calls)
// and back, and Windows errors as errno values.
#pragma once

#include <string>

namespace mervox::media::platform {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* utf16);
// The errno value nearest to a Windows error (GetLastError()).
int ErrnoOfWindowsError(unsigned long error);

}  // namespace mervox::media::platform
