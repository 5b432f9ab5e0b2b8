#pragma once
// Drive letters that stay put for the whole run: the root is C; a device keeps its letter
// while it is out and when it comes back elsewhere; a device seen for the first time takes
// the next letter never given before. Letters run to Z; later devices get none.
#include <map>
#include <string>
#include <vector>

#include "core/linux/drive_table.h"

namespace koravex {

class DriveLetters {
  public:
    // One letter per candidate, in the candidates' order; '\0' where none is left.
    std::vector<char> assign(const std::vector<DriveCandidate>& drives);

  private:
    std::map<std::string, char> byKey_;
    char next_ = 'D';
};

}  // namespace koravex
