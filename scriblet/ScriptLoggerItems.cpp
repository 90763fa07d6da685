#include "scriblet/ScriptLoggerItems.h"

namespace scriblet
{
HRESULT CLoggerItemsEnum::Next(std::string* item)
{
    if (item == nullptr)
        return E_POINTER;
    item->clear();
    if (mPosition >= mItems.size())
        return S_FALSE;
    *item = mItems[mPosition++];
    return S_OK;
}

HRESULT CLoggerItemsEnum::Skip(std::uint32_t count)
{
    const std::size_t left = mItems.size() - mPosition;
    if (count > left)
    {
        mPosition = mItems.size();
        return S_FALSE;
    }
    mPosition += count;
    return S_OK;
}

HRESULT CLoggerItemsEnum::Reset()
{
    mPosition = 0;
    return S_OK;
}

HRESULT CLoggerItemsEnum::Clone(std::unique_ptr<CLoggerItemsEnum>* copy) const
{
    if (copy == nullptr)
        return E_POINTER;
    *copy = std::make_unique<CLoggerItemsEnum>(*this);
    return S_OK;
}

bool CLoggerItems::isIndex(std::int32_t index) const
{
    return index >= 1 && static_cast<std::size_t>(index) <= mItems.size();
}

HRESULT CLoggerItems::get_Item(std::int32_t index, std::string* item) const
{
    if (item == nullptr)
        return E_POINTER;
    item->clear();
    if (!isIndex(index))
        return E_INVALIDARG;
    *item = mItems[index - 1];
    return S_OK;
}

HRESULT CLoggerItems::get_Count(std::int32_t* count) const
{
    if (count == nullptr)
        return E_POINTER;
    *count = static_cast<std::int32_t>(mItems.size());
    return S_OK;
}

HRESULT CLoggerItems::get__NewEnum(std::unique_ptr<CLoggerItemsEnum>* enumerator) const
{
    if (enumerator == nullptr)
        return E_POINTER;
    *enumerator = std::make_unique<CLoggerItemsEnum>(mItems);
    return S_OK;
}

HRESULT CLoggerItems::Add(const char* item)
{
    if (item == nullptr)
        return E_INVALIDARG;
    mItems.emplace_back(item);
    return S_OK;
}

HRESULT CLoggerItems::Remove(std::int32_t index)
{
    if (!isIndex(index))
        return E_INVALIDARG;
    mItems.erase(mItems.begin() + (index - 1));
    return S_OK;
}

HRESULT CLoggerItems::Clear()
{
    mItems.clear();
    return S_OK;
}
} // namespace scriblet
