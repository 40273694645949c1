#pragma once

#include <string_view>

namespace kelvara {

// Where the engine puts the rows of a hit list: the window's list, the command line's output, a
// test's vector. Rows are UTF-8 text.
class RowSink
{
public:
    virtual ~RowSink() = default;
    virtual void clear() = 0;
    virtual void appendRow(std::string_view utf8) = 0;
};

} // namespace kelvara
