#pragma once
// Drive roots ("C:\") as the window, the drive answers and both backends name them: the one
// place that says which texts name a drive and how a letter's case is folded.
#include <string>
#include <string_view>

namespace koravex {

// The drive a path lies on: its first character in upper case when that is an ASCII letter
// followed by a colon ("c:\", "C:", "c:\dir\file"); '\0' for any other path ("\\server\share",
// "1:\", a letter outside ASCII, fewer than two characters). Narrow or wide characters.
template <class Char>
constexpr char driveLetter(std::basic_string_view<Char> path) {
    if (path.size() < 2 || path[1] != Char(':'))
        return '\0';
    const Char c = path[0];
    if (c >= Char('a') && c <= Char('z'))
        return static_cast<char>(c - Char('a') + 'A');
    if (c >= Char('A') && c <= Char('Z'))
        return static_cast<char>(c);
    return '\0';
}

constexpr char driveLetter(std::string_view path) {
    return driveLetter<char>(path);
}

// A drive root exactly: "X:\" with the letter in either case -> the letter in upper case;
// '\0' for anything else ("C:", "C:\dir", "C:/").
constexpr char rootLetter(std::string_view root) {
    return root.size() == 3 && root[2] == '\\' ? driveLetter(root) : '\0';
}

// The key one drive is known by, whatever case its letter was written in: "c:\" and "C:\"
// are one drive. A text that names no drive stays as it is.
inline std::string driveKey(std::string_view root) {
    std::string key(root);
    if (const char letter = driveLetter(root))
        key[0] = letter;
    return key;
}

}  // namespace koravex
