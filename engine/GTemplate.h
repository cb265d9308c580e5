// The engine's container templates. All storage comes from MemAlloc.
// Index errors are reported with BREAK_IF; after it goes on, the guarded access is not performed.
#pragma once

#include <new>

#include "GString.h"

// Reports a broken index invariant for accessors that must return a reference.
#define TEMPLATE_FATAL_INDEX(cond)                                                       \
    do                                                                                   \
    {                                                                                    \
        if (BREAK_IF(cond))                                                              \
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "!(" #cond ")"); \
    } while (0)

// Element counts above this are refused (byte sizes are computed in size_t).
static const u64 TEMPLATE_MAX_COUNT = 0xFFFFFFFFull;

// ---------------------------------------------------------------------------------------------
// TArray: a growable array of objects, constructed, copied and destroyed one by one.
template <class T>
class TArray
{
public:
    T* data;
    u32 capacity;
    u32 count;

    TArray() : data(nullptr), capacity(0), count(0) {}
    TArray(const TArray& other) : data(nullptr), capacity(0), count(0) { *this = other; }
    ~TArray() { Reserve(0, true); }

    TArray& operator=(const TArray& other)
    {
        if (this == &other)
            return *this;
        if (!Resize(other.count))
            return *this;
        for (u32 i = 0; i < other.count; ++i)
            data[i] = other.data[i];
        return *this;
    }

    // Not exact: at least n, growing to max(n, 2 * capacity). Exact: exactly n (never below count);
    // an exact 0 destroys every element and frees the storage.
    bool Reserve(u32 n, bool exact = false)
    {
        if (exact && n == 0)
        {
            for (u32 i = 0; i < count; ++i)
                data[i].~T();
            MemFree(data);
            data = nullptr;
            capacity = 0;
            count = 0;
            return true;
        }
        u64 newCapacity;
        if (exact)
        {
            newCapacity = n < count ? count : n;
            if (newCapacity == capacity)
                return true;
        }
        else
        {
            if (capacity >= n)
                return true;
            u64 grown = (u64)capacity * 2;
            newCapacity = grown > n ? grown : n;
            if (newCapacity > TEMPLATE_MAX_COUNT)
                newCapacity = n;
        }
        if (BREAK_IF(newCapacity > TEMPLATE_MAX_COUNT || newCapacity > SIZE_MAX / sizeof(T)))
            return false;
        T* block = (T*)MemAlloc((size_t)newCapacity * sizeof(T));
        for (u32 i = 0; i < count; ++i)
        {
            new (&block[i]) T(data[i]);
            data[i].~T();
        }
        MemFree(data);
        data = block;
        capacity = (u32)newCapacity;
        return true;
    }

    // New elements are value-initialised for class types (plain types keep what the storage holds).
    bool Resize(u32 n)
    {
        if (!Reserve(n))
            return false;
        for (u32 i = count; i < n; ++i)
            new (&data[i]) T;
        for (u32 i = n; i < count; ++i)
            data[i].~T();
        count = n;
        return true;
    }

    // Inserts a copy of value before position i (i = count appends). Returns the index or -1.
    int Insert(u32 i, const T& value)
    {
        if (BREAK_IF(i > count))
            return -1;
        if (&value >= data && &value < data + count)
        {
            // The value lives in this array and may move or shift: insert a copy of it.
            T copy(value);
            return Insert(i, copy);
        }
        if (count == capacity)
        {
            if (!Reserve(capacity ? (u32)((u64)capacity * 2 > TEMPLATE_MAX_COUNT ? TEMPLATE_MAX_COUNT
                                                                                    : (u64)capacity * 2)
                                  : 1))
                return -1;
            if (BREAK_IF(count == capacity))
                return -1;
        }
        if (i == count)
            new (&data[count]) T(value);
        else
        {
            new (&data[count]) T(data[count - 1]);
            for (u32 k = count - 1; k > i; --k)
                data[k] = data[k - 1];
            data[i] = value;
        }
        ++count;
        return (int)i;
    }

    int Add(const T& value) { return Insert(count, value); }

    // Destroys elements from..to inclusive; the tail moves down.
    bool RemoveRange(u32 from, u32 to)
    {
        if (BREAK_IF(from >= count || to >= count || from > to))
            return false;
        u32 removed = to - from + 1;
        for (u32 k = from; k + removed < count; ++k)
            data[k] = data[k + removed];
        for (u32 k = count - removed; k < count; ++k)
            data[k].~T();
        count -= removed;
        return true;
    }

    bool Remove(u32 i) { return RemoveRange(i, i); }

    // Frees everything.
    void Clear() { Reserve(0, true); }

    T& At(u32 i)
    {
        TEMPLATE_FATAL_INDEX(i >= count);
        return data[i];
    }
    const T& At(u32 i) const
    {
        TEMPLATE_FATAL_INDEX(i >= count);
        return data[i];
    }
    T& operator[](u32 i) { return At(i); }
    const T& operator[](u32 i) const { return At(i); }

    T& Last()
    {
        TEMPLATE_FATAL_INDEX(count == 0);
        return data[count - 1];
    }
    const T& Last() const
    {
        TEMPLATE_FATAL_INDEX(count == 0);
        return data[count - 1];
    }

    // Index of the first element equal to value, or -1.
    int Find(const T& value) const
    {
        for (u32 i = 0; i < count; ++i)
            if (data[i] == value)
                return (int)i;
        return -1;
    }

    u32 Count() const { return count; }
    bool IsEmpty() const { return count == 0; }
    T* begin() { return data; }
    T* end() { return data + count; }
    const T* begin() const { return data; }
    const T* end() const { return data + count; }
};

// ---------------------------------------------------------------------------------------------
// TPodArray: a growable array of plain values, moved with raw memory copies. New elements are
// not initialised.
template <class T>
class TPodArray
{
public:
    T* data;
    u32 capacity;
    u32 count;

    TPodArray() : data(nullptr), capacity(0), count(0) {}
    TPodArray(const TPodArray& other) : data(nullptr), capacity(0), count(0) { *this = other; }
    ~TPodArray() { Clear(); }

    TPodArray& operator=(const TPodArray& other)
    {
        if (this == &other)
            return *this;
        if (!Resize(other.count))
            return *this;
        gMemCpy(data, other.data, (size_t)other.count * sizeof(T));
        return *this;
    }

    bool Reserve(u32 n, bool exact = false)
    {
        if (exact && n == 0)
        {
            Clear();
            return true;
        }
        u64 newCapacity;
        if (exact)
        {
            newCapacity = n < count ? count : n;
            if (newCapacity == capacity)
                return true;
        }
        else
        {
            if (capacity >= n)
                return true;
            u64 grown = (u64)capacity * 2;
            newCapacity = grown > n ? grown : n;
            if (newCapacity > TEMPLATE_MAX_COUNT)
                newCapacity = n;
        }
        if (BREAK_IF(newCapacity > TEMPLATE_MAX_COUNT || newCapacity > SIZE_MAX / sizeof(T)))
            return false;
        T* block = (T*)MemAlloc((size_t)newCapacity * sizeof(T));
        gMemCpy(block, data, (size_t)count * sizeof(T));
        MemFree(data);
        data = block;
        capacity = (u32)newCapacity;
        return true;
    }

    bool Resize(u32 n)
    {
        if (!Reserve(n))
            return false;
        count = n;
        return true;
    }

    int Insert(u32 i, const T& value)
    {
        if (BREAK_IF(i > count))
            return -1;
        T copy = value; // the value may live in this array
        if (count == capacity)
        {
            if (!Reserve(capacity ? (u32)((u64)capacity * 2 > TEMPLATE_MAX_COUNT ? TEMPLATE_MAX_COUNT
                                                                                    : (u64)capacity * 2)
                                  : 1))
                return -1;
            if (BREAK_IF(count == capacity))
                return -1;
        }
        gMemMove(data + i + 1, data + i, (size_t)(count - i) * sizeof(T));
        data[i] = copy;
        ++count;
        return (int)i;
    }

    int Add(const T& value) { return Insert(count, value); }

    // Appends n values (which may lie inside this array).
    bool Append(const T* values, u32 n)
    {
        if (n == 0)
            return true;
        if (BREAK_IF((u64)count + n > TEMPLATE_MAX_COUNT))
            return false;
        if (values >= data && values < data + capacity)
        {
            size_t offset = (size_t)(values - data);
            if (!Reserve(count + n))
                return false;
            values = data + offset;
        }
        else if (!Reserve(count + n))
            return false;
        gMemMove(data + count, values, (size_t)n * sizeof(T));
        count += n;
        return true;
    }

    bool RemoveRange(u32 from, u32 to)
    {
        if (BREAK_IF(from >= count || to >= count || from > to))
            return false;
        u32 removed = to - from + 1;
        gMemMove(data + from, data + to + 1, (size_t)(count - to - 1) * sizeof(T));
        count -= removed;
        return true;
    }

    bool Remove(u32 i) { return RemoveRange(i, i); }

    void Clear()
    {
        MemFree(data);
        data = nullptr;
        capacity = 0;
        count = 0;
    }

    T& At(u32 i)
    {
        TEMPLATE_FATAL_INDEX(i >= count);
        return data[i];
    }
    const T& At(u32 i) const
    {
        TEMPLATE_FATAL_INDEX(i >= count);
        return data[i];
    }
    T& operator[](u32 i) { return At(i); }
    const T& operator[](u32 i) const { return At(i); }

    T& Last()
    {
        TEMPLATE_FATAL_INDEX(count == 0);
        return data[count - 1];
    }

    u32 Count() const { return count; }
    bool IsEmpty() const { return count == 0; }
    T* begin() { return data; }
    T* end() { return data + count; }
    const T* begin() const { return data; }
    const T* end() const { return data + count; }
};
