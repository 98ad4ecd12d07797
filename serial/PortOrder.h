// Ports listed in ascending port-number order by insertion, whatever order the system gives.
#pragma once

#include <functional>
#include <string>
#include <vector>

// A list that takes port names: the dialog's combo box, or a plain vector.
class IPortList
{
public:
    virtual int GetCount() = 0;
    virtual std::wstring GetText(int index) = 0;
    virtual void Add(const std::wstring& name) = 0;
    virtual void Insert(int index, const std::wstring& name) = 0;

protected:
    ~IPortList() = default;
};

class CPortVector : public IPortList
{
public:
    int GetCount() override { return static_cast<int>(m_names.size()); }
    std::wstring GetText(int index) override { return m_names[static_cast<std::size_t>(index)]; }
    void Add(const std::wstring& name) override { m_names.push_back(name); }
    void Insert(int index, const std::wstring& name) override { m_names.insert(m_names.begin() + index, name); }
    std::vector<std::wstring> m_names;
};

// COM3 gives 3: every leading 'C', 'O' and 'M' removed, then the leading number (0 when none).
long ComPortSortKey(const std::wstring& name);

// Before the first item of greater key, else at the end: equal keys keep their arrival order.
void InsertPortByNumber(IPortList& list, const std::wstring& name,
                        const std::function<long(const std::wstring&)>& key = ComPortSortKey);
