#include "dsp/kbx/CPointerList.h"

#include <new>

namespace KBX {

bool CPointerList::ItemPool::reserve(int n) {
    if (n <= size) return true;
    if (spare != size) return false;
    std::unique_ptr<Item[]> fresh(new (std::nothrow) Item[static_cast<std::size_t>(n)]);
    if (!fresh) return false;
    items = std::move(fresh);
    size = spare = n;
    freeList = nullptr;
    for (int i = n - 1; i >= 0; --i) {
        items[static_cast<std::size_t>(i)].next = freeList;
        freeList = &items[static_cast<std::size_t>(i)];
    }
    return true;
}

void CPointerList::CArray::Clear() {
    delete[] pointers;
    pointers = nullptr;
    count = 0;
}

void** CPointerList::CArray::Alloc(int n) {
    Clear();
    if (n > 0) {
        pointers = new (std::nothrow) void*[static_cast<std::size_t>(n)];
        if (pointers) count = n;
    }
    return pointers;
}

CPointerList::~CPointerList() { Clear(); }

bool CPointerList::setPool(ItemPool* itemPool) {
    if (count > 0) return false;
    pool = itemPool;
    return true;
}

void CPointerList::release(Item* item) {
    if (!pool || !pool->give(item)) delete item;
}

CPointerList::Item* CPointerList::_Next() {
    Item* item = current;
    if (item) current = item->next;
    return item;
}

void* CPointerList::Next() {
    Item* item = _Next();
    return item ? item->pointer : nullptr;
}

void CPointerList::Push(void* p) {
    if (!p) return;
    Item* item = pool ? pool->take() : nullptr;
    if (!item) item = new (std::nothrow) Item;
    if (!item) return;
    item->pointer = p;
    item->prev = last;
    if (last)
        last->next = item;
    else
        first = item;
    last = current = item;
    ++count;
}

void* CPointerList::Pop() {
    Item* item = last;
    if (!item) return nullptr;
    void* p = item->pointer;
    last = current = item->prev;
    if (last)
        last->next = nullptr;
    else
        first = nullptr;
    release(item);
    --count;
    return p;
}

void CPointerList::unlink(Item* item) {
    if (item->prev) item->prev->next = item->next;
    if (item->next) item->next->prev = item->prev;
    if (first == item) first = item->next;
    if (last == item) last = item->prev;
    if (current == item) current = item->prev;
    release(item);
    --count;
}

void CPointerList::Delete(void* p) {
    if (!p) return;
    Rewind();
    while (Item* item = _Next()) {
        if (item->pointer == p) {
            unlink(item);
            return;
        }
    }
}

void CPointerList::Delete(int i) {
    if (i < 0 || i >= count) return;
    Rewind();
    Item* item = nullptr;
    for (int k = 0; k <= i; ++k) item = _Next();
    unlink(item);
}

void* CPointerList::At(int i) {
    if (count == 0 || i < 0 || i >= count) return nullptr;
    Rewind();
    Item* item = nullptr;
    for (int k = 0; k <= i; ++k) item = _Next();
    return item->pointer;
}

void CPointerList::Clear() {
    if (count > 0) {
        Rewind();
        while (Item* item = _Next()) release(item);
    }
    first = last = current = nullptr;
    count = 0;
}

int CPointerList::operator=(CPointerList& other) {
    // Copying a list onto itself would clear the source before reading it.
    if (&other == this) return 0;
    Clear();
    other.Rewind();
    while (Item* item = other._Next()) Push(item->pointer);
    return 0;
}

int CPointerList::Assign(CPointerList& other) {
    if (&other == this) return count;
    *this = other;
    other.Clear();
    return count;
}

void** CPointerList::BeginArrayOperation() {
    if (count == 0) return nullptr;
    void** pointers = array.Alloc(count);
    if (!pointers) return nullptr;
    Rewind();
    for (int i = 0; Item* item = _Next(); ++i) pointers[i] = item->pointer;
    Clear();
    return pointers;
}

void CPointerList::EndArrayOperation() {
    if (!array.pointers || array.count == 0) return;
    Clear();
    for (int i = 0; i < array.count; ++i) Push(array.pointers[i]);
    array.Clear();
}

} // namespace KBX
