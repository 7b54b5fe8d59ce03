#pragma once

#include <functional>
#include <memory>

namespace KBX {

// A doubly linked list of untyped pointers with a cursor. It owns only its link
// records, never the objects pointed to.
class CPointerList {
public:
    struct Item {
        void* pointer = nullptr;
        Item* prev = nullptr;
        Item* next = nullptr;
    };

    // Link records made once up front: a list fed from a pool allocates nothing
    // while it is filled and emptied, as long as the pool is large enough.
    class ItemPool {
    public:
        explicit ItemPool(int n = 0) { reserve(n); }
        ItemPool(const ItemPool&) = delete;
        ItemPool& operator=(const ItemPool&) = delete;

        // Grows to at least n records; refused (false) while records are handed out.
        bool reserve(int n);
        int capacity() const { return size; }
        int available() const { return spare; }
        Item* take() {
            Item* item = freeList;
            if (!item) return nullptr;
            freeList = item->next;
            --spare;
            *item = Item{};
            return item;
        }
        // Takes a record back; false when it did not come from this pool.
        bool give(Item* item) {
            const std::less<const Item*> before;
            if (!items || before(item, items.get()) || !before(item, items.get() + size)) return false;
            item->next = freeList;
            freeList = item;
            ++spare;
            return true;
        }

    private:
        std::unique_ptr<Item[]> items;
        Item* freeList = nullptr;
        int size = 0;
        int spare = 0;
    };

    // A plain array view of the list for work by index.
    class CArray {
    public:
        virtual void Clear();
        virtual void** Alloc(int n);
        virtual ~CArray() { Clear(); }

        int count = 0;
        void** pointers = nullptr;
    };

    CPointerList() = default;
    explicit CPointerList(ItemPool* itemPool) : pool(itemPool) {}
    CPointerList(const CPointerList&) = delete;

    virtual Item* _Next();
    virtual ~CPointerList();
    // Copies other's pointers in order; other keeps its items.
    virtual int operator=(CPointerList& other);
    // Moves other's pointers here; other ends empty.
    virtual int Assign(CPointerList& other);
    virtual int Count() { return count; }
    virtual void Clear();
    virtual void Add(void* p) { Push(p); }
    virtual void Push(void* p);
    virtual void* Pop();
    virtual void Delete(void* p);
    virtual void Delete(int i);
    virtual void* At(int i);
    virtual void* operator[](int i) { return At(i); }
    virtual void* First() { return first ? first->pointer : nullptr; }
    virtual void* Last() { return last ? last->pointer : nullptr; }
    virtual void* Next();
    virtual void* Current() { return current ? current->pointer : nullptr; }
    virtual void Rewind() { current = first; }
    virtual void** BeginArrayOperation();
    virtual void EndArrayOperation();

    // Records come from (and go back to) pool from now on; only while the list is empty.
    bool setPool(ItemPool* itemPool);

    CArray array;
    Item* first = nullptr;
    Item* last = nullptr;
    Item* current = nullptr;
    int count = 0;

private:
    void unlink(Item* item);
    void release(Item* item);

    ItemPool* pool = nullptr;
};

} // namespace KBX
