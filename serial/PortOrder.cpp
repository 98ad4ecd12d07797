#include "serial/PortOrder.h"

#include <cwchar>

long ComPortSortKey(const std::wstring& name)
{
    std::size_t i = name.find_first_not_of(L"COM");
    return i == std::wstring::npos ? 0 : std::wcstol(name.c_str() + i, nullptr, 10);
}

void InsertPortByNumber(IPortList& list, const std::wstring& name, const std::function<long(const std::wstring&)>& key)
{
    const int count = list.GetCount();
    if (count == 0)
    {
        list.Add(name);
        return;
    }
    const long mine = key(name);
    for (int j = 0; j < count; ++j)
    {
        if (key(list.GetText(j)) > mine)
        {
            list.Insert(j, name);
            return;
        }
    }
    list.Insert(count, name);
}
