#pragma once
// What the browser's thread shows, written to a file for programs that drive
// it with real input and need to know where to click: a line for each
// visible window (by caption, or by class when it has none), each of its
// controls (by identifier) and each row of a list box, as
//   caption <tab> what <tab> left top right bottom <tab> text
// with "what" empty for the window itself and "row <text>" for a row (its
// text "selected" when it is). The file is replaced whole, so a reader never
// sees half of it.

#include <string>

namespace demo {

void writeScreenReport(const std::wstring& path);

}  // namespace demo
