// The engine's container templates. All storage comes from MemAlloc.
// Index errors are reported with BREAK_IF; after it goes on, the guarded access is not performed.
#pragma once

#include <new>
#include <utility>

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

// The storage size a reservation of n elements asks for, by the arrays' shared rule. Not exact:
// nothing when capacity already holds n, else max(n, 2 * capacity). Exact: exactly n, never below
// count. Returns 0 when nothing needs to change, -1 when the size cannot be represented, else 1.
inline int TemplateReserveSize(u32 capacity, u32 count, u32 n, bool exact, size_t elementSize, u64& newCapacity)
{
    if (exact)
    {
        newCapacity = n < count ? count : n;
        if (newCapacity == capacity)
            return 0;
    }
    else
    {
        if (capacity >= n)
            return 0;
        u64 grown = (u64)capacity * 2;
        newCapacity = grown > n ? grown : n;
        if (newCapacity > TEMPLATE_MAX_COUNT)
            newCapacity = n;
    }
    if (BREAK_IF(newCapacity > TEMPLATE_MAX_COUNT || newCapacity > SIZE_MAX / elementSize))
        return -1;
    return 1;
}

// The capacity an insertion into a full array reserves: 1 from nothing, then doubling.
inline u32 TemplateInsertGrowth(u32 capacity)
{
    if (capacity == 0)
        return 1;
    return (u64)capacity * 2 > TEMPLATE_MAX_COUNT ? (u32)TEMPLATE_MAX_COUNT : capacity * 2;
}

// ---------------------------------------------------------------------------------------------
// The storage both arrays share (fields in order: data, capacity, count) and their accessors.
template <class T>
class TArrayStorage
{
public:
    T* data = nullptr;   // element storage, null while nothing was ever reserved
    u32 capacity = 0;    // elements the storage holds
    u32 count = 0;       // live elements, never above capacity

    T& At(u32 at)
    {
        TEMPLATE_FATAL_INDEX(at >= count);
        return data[at];
    }
    const T& At(u32 at) const
    {
        TEMPLATE_FATAL_INDEX(at >= count);
        return data[at];
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

    u32 Count() const { return count; }
    bool IsEmpty() const { return count == 0; }
    T* begin() { return data; }
    T* end() { return data + count; }
    const T* begin() const { return data; }
    const T* end() const { return data + count; }

protected:
    TArrayStorage() = default;
    TArrayStorage(const TArrayStorage&) = delete;
    TArrayStorage& operator=(const TArrayStorage&) = delete;
};

// ---------------------------------------------------------------------------------------------
// TArray: a growable array of objects, constructed, copied and destroyed one by one.
template <class T>
class TArray : public TArrayStorage<T>
{
public:
    using TArrayStorage<T>::data;
    using TArrayStorage<T>::capacity;
    using TArrayStorage<T>::count;

    TArray() {}
    // A deep copy: exactly the source's count, each element copy-constructed.
    TArray(const TArray& other)
    {
        if (other.count == 0 || !Reserve(other.count, true))
            return;
        for (u32 i = 0; i < other.count; ++i)
            new (&data[i]) T(other.data[i]);
        count = other.count;
    }
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
        u64 newCapacity = 0;
        int change = TemplateReserveSize(capacity, count, n, exact, sizeof(T), newCapacity);
        if (change <= 0)
            return change == 0;
        T* block = (T*)MemAlloc((size_t)newCapacity * sizeof(T));
        // Elements are moved when their type can (a string keeps its buffer), else copied.
        for (u32 i = 0; i < count; ++i)
        {
            new (&block[i]) T(std::move_if_noexcept(data[i]));
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
            if (!Reserve(TemplateInsertGrowth(capacity)))
                return -1;
            if (BREAK_IF(count == capacity))
                return -1;
        }
        if (i == count)
            new (&data[count]) T(value);
        else
        {
            // Shifted elements are moved (a string keeps its buffer), not copied.
            new (&data[count]) T(std::move(data[count - 1]));
            for (u32 k = count - 1; k > i; --k)
                data[k] = std::move(data[k - 1]);
            data[i] = value;
        }
        ++count;
        return (int)i;
    }

    int Add(const T& value)
    {
        // With room left nothing moves, so value may even be one of the elements.
        if (count < capacity)
        {
            new (&data[count]) T(value);
            return (int)count++;
        }
        return Insert(count, value);
    }

    // Destroys elements from..to inclusive; the tail moves down.
    bool RemoveRange(u32 from, u32 to)
    {
        if (BREAK_IF(from >= count || to >= count || from > to))
            return false;
        u32 removed = to - from + 1;
        for (u32 k = from; k + removed < count; ++k)
            data[k] = std::move(data[k + removed]);
        for (u32 k = count - removed; k < count; ++k)
            data[k].~T();
        count -= removed;
        return true;
    }

    bool Remove(u32 i) { return RemoveRange(i, i); }

    // Frees everything.
    void Clear() { Reserve(0, true); }


    // Index of the first element equal to value, or -1.
    int Find(const T& value) const
    {
        for (u32 i = 0; i < count; ++i)
            if (data[i] == value)
                return (int)i;
        return -1;
    }

};

// ---------------------------------------------------------------------------------------------
// TPodArray: a growable array of plain values, moved with raw memory copies. New elements are
// not initialised.
template <class T>
class TPodArray : public TArrayStorage<T>
{
public:
    using TArrayStorage<T>::data;
    using TArrayStorage<T>::capacity;
    using TArrayStorage<T>::count;

    TPodArray() {}
    TPodArray(const TPodArray& other) { *this = other; }
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
        u64 newCapacity = 0;
        int change = TemplateReserveSize(capacity, count, n, exact, sizeof(T), newCapacity);
        if (change <= 0)
            return change == 0;
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
            if (!Reserve(TemplateInsertGrowth(capacity)))
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


};

// ---------------------------------------------------------------------------------------------
// TMap: an ordered map on a top-down red-black tree (no parent pointers).

// Three-way key order. Keys need a less-than; TString keys compare their bytes as unsigned values.
template <class K>
inline int TMapCompare(const K& a, const K& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}
inline int TMapCompare(const TString& a, const TString& b)
{
    return gStrCmp(a.text, b.text);
}

template <class K, class V>
class TMap
{
public:
    // Links and colour; the false root above the real one has only these.
    struct NodeBase
    {
        NodeBase* link[2]; // 0: smaller keys, 1: larger keys
        u32 red;           // 1 red, 0 black
    };
    struct Node : NodeBase
    {
        K key;
        V value;
        Node(const K& k, const V& v) : key(k), value(v) {}
        Node* Child(int dir) const { return static_cast<Node*>(this->link[dir]); }
        bool IsRed() const { return this->red != 0; }
    };

    Node* root;
    u32 count;

    TMap() : root(nullptr), count(0) {}
    TMap(const TMap& other) : root(nullptr), count(0) { *this = other; }
    ~TMap() { Clear(); }

    TMap& operator=(const TMap& other)
    {
        if (this == &other)
            return *this;
        Clear();
        root = CopyTree(other.root);
        count = other.count;
        return *this;
    }

    u32 Count() const { return count; }
    bool IsEmpty() const { return count == 0; }

    Node* Find(const K& key) const
    {
        Node* n = root;
        while (n)
        {
            int c = TMapCompare(n->key, key);
            if (c == 0)
                return n;
            n = n->Child(c < 0);
        }
        return nullptr;
    }

    // The value stored under key, or null.
    V* FindValue(const K& key) const
    {
        Node* n = Find(key);
        return n ? &n->value : nullptr;
    }

    // Returns the new node, or null when the key is already present (its value stays).
    Node* Insert(const K& key, const V& value)
    {
        if (!root)
        {
            root = NewNode(key, value);
            root->red = 0;
            count = 1;
            return root;
        }

        NodeBase head; // false root: rotations at the top need no special case
        head.link[0] = nullptr;
        head.link[1] = root;
        head.red = 0;

        NodeBase* t = &head; // great-grandparent
        Node* g = nullptr;   // grandparent
        Node* p = nullptr;   // parent
        Node* q = root;
        Node* added = nullptr;
        int dir = 0, last = 0;

        for (;;)
        {
            if (!q)
            {
                q = added = NewNode(key, value);
                p->link[dir] = q;
                ++count;
            }
            else if (IsRed(q->link[0]) && IsRed(q->link[1]))
            {
                q->red = 1;
                q->link[0]->red = 0;
                q->link[1]->red = 0;
            }

            if (IsRed(q) && IsRed(p))
            {
                int dir2 = t->link[1] == g;
                if (q == p->link[last])
                    t->link[dir2] = RotateSingle(g, !last);
                else
                    t->link[dir2] = RotateDouble(g, !last);
            }

            if (added)
                break;
            int c = TMapCompare(q->key, key);
            if (c == 0)
                break;

            last = dir;
            dir = c < 0;
            if (g)
                t = g;
            g = p;
            p = q;
            q = q->Child(dir);
        }

        root = static_cast<Node*>(head.link[1]);
        root->red = 0;
        return added;
    }

    // The value under key, inserting a default value when the key is absent.
    V& GetOrAdd(const K& key)
    {
        Node* n = Find(key);
        if (!n)
            n = Insert(key, V());
        return n->value;
    }

    // 1 when a node was removed, else 0.
    int Remove(const K& key)
    {
        if (!root)
            return 0;

        NodeBase head;
        head.link[0] = nullptr;
        head.link[1] = root;
        head.red = 0;

        NodeBase* q = &head;
        NodeBase* p = nullptr;
        NodeBase* g = nullptr;
        Node* found = nullptr;
        int dir = 1;

        // Walk down pushing a red node along, so that the node finally unlinked is red.
        while (q->link[dir])
        {
            int last = dir;
            g = p;
            p = q;
            q = q->link[dir];
            int c = TMapCompare(static_cast<Node*>(q)->key, key);
            dir = c < 0;
            if (c == 0)
                found = static_cast<Node*>(q);

            if (!IsRed(q) && !IsRed(q->link[dir]))
            {
                if (IsRed(q->link[!dir]))
                {
                    NodeBase* r = RotateSingle(q, dir);
                    p->link[last] = r;
                    p = r;
                }
                else
                {
                    NodeBase* s = p->link[!last];
                    if (s)
                    {
                        if (!IsRed(s->link[!last]) && !IsRed(s->link[last]))
                        {
                            p->red = 0;
                            s->red = 1;
                            q->red = 1;
                        }
                        else
                        {
                            int dir2 = g->link[1] == p;
                            if (IsRed(s->link[last]))
                                g->link[dir2] = RotateDouble(p, last);
                            else
                                g->link[dir2] = RotateSingle(p, last);
                            NodeBase* top = g->link[dir2];
                            q->red = 1;
                            top->red = 1;
                            top->link[0]->red = 0;
                            top->link[1]->red = 0;
                        }
                    }
                }
            }
        }

        int removed = 0;
        if (found)
        {
            // q is the in-order neighbour of the found node (or the node itself): it takes its place.
            Node* last = static_cast<Node*>(q);
            if (found != last)
            {
                found->key = static_cast<K&&>(last->key);
                found->value = static_cast<V&&>(last->value);
            }
            p->link[p->link[1] == q] = q->link[q->link[0] == nullptr];
            FreeNode(last);
            --count;
            removed = 1;
        }

        root = static_cast<Node*>(head.link[1]);
        if (root)
            root->red = 0;
        return removed;
    }

    // Frees every node.
    void Clear()
    {
        FreeTree(root);
        root = nullptr;
        count = 0;
    }

    // In-order walk with an explicit stack of the ancestors of the current node.
    class Iterator
    {
    public:
        const TMap* map;
        Node* current;
        TArray<Node*> stack;

        explicit Iterator(const TMap& m) : map(&m), current(nullptr) { First(); }

        Node* First()
        {
            stack.count = 0;
            current = map->root;
            if (current)
                while (current->link[0])
                {
                    stack.Add(current);
                    current = current->Child(0);
                }
            return current;
        }

        Node* Next()
        {
            if (!current)
                return nullptr;
            if (current->link[1])
            {
                stack.Add(current);
                current = current->Child(1);
                while (current->link[0])
                {
                    stack.Add(current);
                    current = current->Child(0);
                }
                return current;
            }
            // Up to the first ancestor whose smaller side we came from.
            for (;;)
            {
                if (stack.count == 0)
                {
                    current = nullptr;
                    return nullptr;
                }
                Node* parent = stack.data[--stack.count];
                if (parent->link[0] == current)
                {
                    current = parent;
                    return current;
                }
                current = parent;
            }
        }

        bool IsValid() const { return current != nullptr; }
        const K& Key() const
        {
            TEMPLATE_FATAL_INDEX(current == nullptr);
            return current->key;
        }
        V& Value() const
        {
            TEMPLATE_FATAL_INDEX(current == nullptr);
            return current->value;
        }
    };

private:
    static bool IsRed(const NodeBase* n) { return n && n->red; }

    static Node* NewNode(const K& key, const V& value)
    {
        Node* n = new (MemAlloc(sizeof(Node))) Node(key, value);
        n->link[0] = n->link[1] = nullptr;
        n->red = 1;
        return n;
    }

    static void FreeNode(Node* n)
    {
        n->~Node();
        MemFree(n);
    }

    // Rotates the child on side !dir up; the new subtree root turns black, the old one red.
    static NodeBase* RotateSingle(NodeBase* n, int dir)
    {
        NodeBase* save = n->link[!dir];
        n->link[!dir] = save->link[dir];
        save->link[dir] = n;
        n->red = 1;
        save->red = 0;
        return save;
    }

    static NodeBase* RotateDouble(NodeBase* n, int dir)
    {
        n->link[!dir] = RotateSingle(n->link[!dir], !dir);
        return RotateSingle(n, dir);
    }

    static Node* CopyTree(const Node* n)
    {
        if (!n)
            return nullptr;
        Node* c = NewNode(n->key, n->value);
        c->red = n->red;
        c->link[0] = CopyTree(n->Child(0));
        c->link[1] = CopyTree(n->Child(1));
        return c;
    }

    static void FreeTree(Node* n)
    {
        // Recursion depth is bounded by the tree height (at most 2 log2(count + 1)).
        if (!n)
            return;
        FreeTree(n->Child(0));
        FreeTree(n->Child(1));
        FreeNode(n);
    }
};

// ---------------------------------------------------------------------------------------------
// TList: a singly linked list; each node holds the element followed by its next pointer.
template <class T>
class TList
{
public:
    struct Node
    {
        T value;
        Node* next;
        Node(const T& v, Node* n) : value(v), next(n) {}
    };

    Node* head;
    u32 count;   // live nodes
    u32 serial;  // bumped by every change, so a walk can tell the list changed under it

    TList() : head(nullptr), count(0), serial(0) {}
    TList(const TList& other) : head(nullptr), count(0), serial(0) { *this = other; }
    ~TList() { Clear(); }

    TList& operator=(const TList& other)
    {
        if (this == &other)
            return *this;
        Clear();
        // Keep the order: append behind the last copied node.
        Node** tail = &head;
        for (const Node* n = other.head; n; n = n->next)
        {
            *tail = new (MemAlloc(sizeof(Node))) Node(n->value, nullptr);
            tail = &(*tail)->next;
            ++count;
        }
        ++serial;
        return *this;
    }

    // Puts a copy of value at the head; returns the stored element.
    T& Add(const T& value)
    {
        head = new (MemAlloc(sizeof(Node))) Node(value, head);
        ++count;
        ++serial;
        return head->value;
    }

    Node* Find(const T& value) const
    {
        for (Node* n = head; n; n = n->next)
            if (n->value == value)
                return n;
        return nullptr;
    }

    // Removes the first element equal to value; 1 when one was removed.
    int Remove(const T& value)
    {
        for (Node** link = &head; *link; link = &(*link)->next)
            if ((*link)->value == value)
            {
                Node* n = *link;
                *link = n->next;
                n->~Node();
                MemFree(n);
                --count;
                ++serial;
                return 1;
            }
        return 0;
    }

    void Clear()
    {
        Node* n = head;
        while (n)
        {
            Node* next = n->next;
            n->~Node();
            MemFree(n);
            n = next;
        }
        head = nullptr;
        count = 0;
        serial = 0;
    }

    u32 Count() const { return count; }
    bool IsEmpty() const { return count == 0; }
};
