#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace sheets::xlsx {

// Texts of cells that must stay put while a row is gathered: a string once stored never moves,
// so the cells can point at it. reset() reuses the first block, so a sheet read row by row
// allocates nothing after its first rows.
class Arena {
public:
    std::string_view store(std::string_view text)
    {
        if (text.empty()) {
            return {};
        }
        if (text.size() > kBlock / 4) {
            auto& block = large_.emplace_back(new char[text.size()]);
            std::memcpy(block.get(), text.data(), text.size());
            return {block.get(), text.size()};
        }
        if (blocks_.empty() || used_ + text.size() > kBlock) {
            nextBlock();
        }
        char* at = blocks_[current_].get() + used_;
        std::memcpy(at, text.data(), text.size());
        used_ += text.size();
        return {at, text.size()};
    }

    void reset()
    {
        current_ = 0;
        used_ = 0;
        large_.clear();
        if (blocks_.size() > 4) {
            blocks_.resize(4);
        }
    }

private:
    static constexpr std::size_t kBlock = 64 * 1024;

    void nextBlock()
    {
        if (!blocks_.empty() && current_ + 1 < blocks_.size()) {
            ++current_;
        } else {
            blocks_.emplace_back(new char[kBlock]);
            current_ = blocks_.size() - 1;
        }
        used_ = 0;
    }

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::unique_ptr<char[]>> large_;
    std::size_t current_ = 0;
    std::size_t used_ = 0;
};

} // namespace sheets::xlsx
