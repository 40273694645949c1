#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

namespace kelvara {

// Where the engine puts the rows of a hit list: the window's list, the command line's output, a
// test's vector. Rows are UTF-8 text.
class RowSink
{
public:
    virtual ~RowSink() = default;
    virtual void clear() = 0;
    virtual void appendRow(std::string_view utf8) = 0;
    // Rows that stand end to end in `utf8`, each followed by an LF (a row may hold LFs of its own);
    // `rows` tells where each starts and how long it is.
    virtual void appendRows(std::string_view utf8, std::span<const std::pair<size_t, size_t>> rows)
    {
        for (const auto& [offset, length] : rows)
            appendRow(utf8.substr(offset, length));
    }
};

} // namespace kelvara
