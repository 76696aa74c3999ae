#pragma once

#include <string>
#include <string_view>

namespace p2k {

// The PC name under which a phone file is saved: the phone name's last part
// (after '/' or '\'), in UTF-8, made safe as a bare file name: characters
// PC names forbid become '_', device names (CON, NUL, COM1 ...) get a '_'
// in front, trailing dots and blanks go, and a name left empty (or "." or
// "..") becomes "phone_file". The result never names another folder.
std::string pcTitleForPhoneName(std::string_view phoneName);

// The last part of a path, after its last '/' or '\' (all of it when it has none).
std::string_view lastPartOf(std::string_view path);

// The folder part of a path, without its last separator ("" for a bare name).
std::string folderOf(std::string_view path);

// folder + separator + name; the name alone for an empty folder.
std::string pathInFolder(std::string_view folder, std::string_view name);

} // namespace p2k
