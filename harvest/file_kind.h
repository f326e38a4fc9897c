// The kind of file a task harvests. It is one byte of the task record, so its values are part
// of the task files' format; a record read from a file may carry any byte.
#pragma once

#include <cstdint>

namespace quarry {

enum class FileKind : std::uint8_t { Image = 0, Word = 1, Slides = 2, Pdf = 3, Excel = 4 };

}  // namespace quarry
