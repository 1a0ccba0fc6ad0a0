#pragma once

#include <string>
#include <vector>

namespace sources {

// The source folder list: folder path texts in the order they were appended, numbered from 1.
// Nothing checks duplicates or existence. The window's list control implements it.
class SourceList {
public:
    virtual ~SourceList() = default;
    virtual int count() const = 0;
    virtual std::string text(int index) const = 0;
    virtual void append(const std::string& path) = 0;
    // Appends many items at once, in order; a list control can do this far faster.
    virtual void appendAll(const std::vector<std::string>& paths) {
        for (const auto& path : paths)
            append(path);
    }
    virtual void removeAt(int index) = 0;
    virtual void clear() = 0;
};

} // namespace sources
