#pragma once
// The collection that the script interface hands out: a 1-based list of texts (UTF-8) with an
// enumerator over a copy of it. Used by one thread at a time.

#include "compat/Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scriblet
{
class CLoggerItemsEnum
{
public:
    explicit CLoggerItemsEnum(std::vector<std::string> items) : mItems(std::move(items)) {}

    // The next text; S_FALSE and an empty `item` at the end.
    HRESULT Next(std::string* item);
    // S_FALSE when fewer than `count` texts were left (the position is then at the end).
    HRESULT Skip(std::uint32_t count);
    HRESULT Reset();
    HRESULT Clone(std::unique_ptr<CLoggerItemsEnum>* copy) const;

private:
    std::vector<std::string> mItems;
    std::size_t mPosition = 0;
};

class CLoggerItems
{
public:
    // Indexes are 1-based: 0 or above the count gives E_INVALIDARG.
    HRESULT get_Item(std::int32_t index, std::string* item) const;
    HRESULT get_Count(std::int32_t* count) const;
    HRESULT get__NewEnum(std::unique_ptr<CLoggerItemsEnum>* enumerator) const;
    HRESULT Add(const char* item);
    HRESULT Remove(std::int32_t index);
    HRESULT Clear();

private:
    bool isIndex(std::int32_t index) const;

    std::vector<std::string> mItems;
};
} // namespace scriblet
