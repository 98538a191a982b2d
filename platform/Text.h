// Text and arrays with only the members the launcher uses, kept here rather
// than taken from the standard library: std::string and std::vector report a
// request they cannot meet through the library's throw helpers, which bring
// exception classes with a string of their own, and much of the rest of the
// library, into the exe. Here every request that cannot be met throws
// std::bad_alloc, and an index out of range std::exception; the launcher
// catches only with catch (...), so the type carries nothing.
#pragma once

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

// Heap storage for count elements of T, uninitialised; std::bad_alloc when
// the size overflows or the memory is not there.
template <typename T> T* AllocateElements(size_t count)
{
    if (count > static_cast<size_t>(-1) / sizeof(T))
        throw std::bad_alloc();
    return static_cast<T*>(::operator new(count * sizeof(T)));
}

// A run of characters (char or wchar_t) always followed by a NUL, copied on
// assignment; the names and meanings are std::basic_string's.
template <typename Char> class TText
{
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    TText() = default;
    TText(const Char* text) { Append(text, Length(text)); }
    TText(const Char* begin, const Char* end) { Append(begin, static_cast<size_t>(end - begin)); }
    TText(size_t count, Char ch) { resize(count, ch); }
    TText(const TText& other) { Append(other.m_data, other.m_size); }
    TText(TText&& other) noexcept { swap(other); }
    ~TText() { ::operator delete(m_data); }

    TText& operator=(const TText& other)
    {
        TText copy(other);
        swap(copy);
        return *this;
    }
    TText& operator=(TText&& other) noexcept
    {
        swap(other);
        return *this;
    }
    TText& operator=(const Char* text) { return *this = TText(text); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const Char* c_str() const { return m_data ? m_data : EmptyText(); }
    Char& operator[](size_t index)
    {
        Reserve(m_size);   // writable storage even for an empty text
        return m_data[index];
    }
    Char operator[](size_t index) const { return c_str()[index]; }
    Char at(size_t index) const
    {
        if (index >= m_size)
            throw std::exception();
        return m_data[index];
    }

    void clear() { resize(0); }
    void resize(size_t count, Char ch = Char())
    {
        if (count > m_size) {
            Reserve(count);
            for (size_t i = m_size; i < count; i++)
                m_data[i] = ch;
        }
        m_size = count;
        if (m_data)
            m_data[m_size] = Char();
    }
    // Removes count characters (all to the end by default) from index on.
    void erase(size_t index, size_t count = npos)
    {
        CheckIndex(index);
        size_t removed = count < m_size - index ? count : m_size - index;
        if (removed == 0)
            return;
        memmove(m_data + index, m_data + index + removed, (m_size - index - removed) * sizeof(Char));
        resize(m_size - removed);
    }
    TText substr(size_t index, size_t count = npos) const
    {
        CheckIndex(index);
        size_t taken = count < m_size - index ? count : m_size - index;
        return TText(c_str() + index, c_str() + index + taken);
    }
    size_t rfind(Char ch) const
    {
        for (size_t i = m_size; i > 0; i--)
            if (m_data[i - 1] == ch)
                return i - 1;
        return npos;
    }
    // Compares count characters from index on (fewer at the end) with other.
    int compare(size_t index, size_t count, const TText& other) const
    {
        CheckIndex(index);
        size_t mine = count < m_size - index ? count : m_size - index;
        size_t common = mine < other.m_size ? mine : other.m_size;
        for (size_t i = 0; i < common; i++) {
            if (c_str()[index + i] != other.c_str()[i])
                return c_str()[index + i] < other.c_str()[i] ? -1 : 1;
        }
        return mine == other.m_size ? 0 : (mine < other.m_size ? -1 : 1);
    }
    void swap(TText& other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    TText& operator+=(const TText& more) { return Append(more.c_str(), more.m_size); }
    TText& operator+=(const Char* more) { return Append(more, Length(more)); }
    TText& operator+=(Char ch) { return Append(&ch, 1); }

    friend TText operator+(const TText& a, const TText& b) { TText r(a); r += b; return r; }
    friend TText operator+(const TText& a, const Char* b) { TText r(a); r += b; return r; }
    friend TText operator+(const Char* a, const TText& b) { TText r(a); r += b; return r; }

private:
    static size_t Length(const Char* text)
    {
        size_t n = 0;
        while (text[n] != Char())
            n++;
        return n;
    }
    static const Char* EmptyText()
    {
        static const Char empty[1] = {};
        return empty;
    }
    void CheckIndex(size_t index) const
    {
        if (index > m_size)
            throw std::exception();
    }
    // Room for count characters and the NUL after them; grows by half again
    // at least, so that appending one character at a time stays linear.
    void Reserve(size_t count)
    {
        if (m_data && count <= m_capacity)
            return;
        if (count >= static_cast<size_t>(-1) / sizeof(Char) / 2)
            throw std::bad_alloc();
        size_t capacity = m_capacity + m_capacity / 2;
        if (capacity < count)
            capacity = count;
        Char* data = AllocateElements<Char>(capacity + 1);
        memcpy(data, c_str(), (m_size + 1) * sizeof(Char));
        ::operator delete(m_data);
        m_data = data;
        m_capacity = capacity;
    }
    TText& Append(const Char* more, size_t count)
    {
        if (count == 0)
            return *this;
        if (count >= static_cast<size_t>(-1) / sizeof(Char) / 2 - m_size)
            throw std::bad_alloc();
        if (m_data && m_size + count <= m_capacity) {
            memmove(m_data + m_size, more, count * sizeof(Char));
        } else {
            // more may lie in this text's own storage: copy it before that goes.
            TText grown;
            grown.m_capacity = m_capacity;
            grown.Reserve(m_size + count);
            memcpy(grown.m_data, c_str(), m_size * sizeof(Char));
            memcpy(grown.m_data + m_size, more, count * sizeof(Char));
            grown.m_size = m_size;
            swap(grown);
        }
        m_size += count;
        m_data[m_size] = Char();
        return *this;
    }

    Char* m_data = nullptr;   // nullptr until the first character: c_str() is then ""
    size_t m_size = 0;
    size_t m_capacity = 0;    // characters that fit before the NUL
};

using CWideText = TText<wchar_t>;

// An array of values that owns them; the names and meanings are std::vector's.
template <typename T> class TArray
{
public:
    TArray() = default;
    TArray(const TArray&) = delete;
    TArray& operator=(const TArray&) = delete;
    ~TArray()
    {
        clear();
        ::operator delete(m_items);
    }

    size_t size() const { return m_size; }
    T* begin() { return m_items; }
    T* end() { return m_items + m_size; }
    const T* begin() const { return m_items; }
    const T* end() const { return m_items + m_size; }
    T& operator[](size_t index) { return m_items[index]; }
    const T& operator[](size_t index) const { return m_items[index]; }
    const T& at(size_t index) const
    {
        if (index >= m_size)
            throw std::exception();
        return m_items[index];
    }

    void push_back(T item)
    {
        if (m_size == m_capacity)
            Reserve(m_capacity < 4 ? 8 : m_capacity * 2);
        new (m_items + m_size) T(std::move(item));
        m_size++;
    }
    template <typename... Args> void emplace_back(Args&&... args) { push_back(T(std::forward<Args>(args)...)); }
    void resize(size_t count)
    {
        while (m_size > count)
            m_items[--m_size].~T();
        if (count > m_capacity)
            Reserve(count);
        while (m_size < count) {
            new (m_items + m_size) T();
            m_size++;
        }
    }
    void clear() { resize(0); }
    void swap(TArray& other) noexcept
    {
        std::swap(m_items, other.m_items);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

private:
    // The elements move into the new storage: T's move must not throw.
    void Reserve(size_t capacity)
    {
        static_assert(noexcept(T(std::declval<T&&>())), "elements must move without throwing");
        if (capacity <= m_capacity)
            return;
        T* items = AllocateElements<T>(capacity);
        for (size_t i = 0; i < m_size; i++) {
            new (items + i) T(std::move(m_items[i]));
            m_items[i].~T();
        }
        ::operator delete(m_items);
        m_items = items;
        m_capacity = capacity;
    }

    T* m_items = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};
