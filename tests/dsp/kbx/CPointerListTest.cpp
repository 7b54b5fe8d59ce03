#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/kbx/CPointerList.h"
#include "dsp/kbx/CPrinTable.h"
#include "tests/support/AllocationCounter.h"

using KBX::CPointerList;

namespace {

int a = 1, b = 2, c = 3, d = 4;

std::vector<void*> contents(CPointerList& list) {
    std::vector<void*> out;
    list.Rewind();
    while (void* p = list.Next()) out.push_back(p);
    return out;
}

void fill(CPointerList& list, std::initializer_list<void*> items) {
    for (void* p : items) list.Push(p);
}

} // namespace

TEST(KbxPointerList, PushPopAndIndexKeepOrder) {
    CPointerList list;
    list.Push(nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Pop(), nullptr);
    EXPECT_EQ(list.First(), nullptr);
    fill(list, {&a, &b, &c});
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Current(), &c);
    EXPECT_EQ(list.At(1), &b);
    EXPECT_EQ(list.Current(), &c);
    EXPECT_EQ(list[2], &c);
    EXPECT_EQ(list.At(3), nullptr);
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(list.Pop(), &c);
    EXPECT_EQ(list.Last(), &b);
    EXPECT_EQ(list.Current(), &b);
    EXPECT_EQ(list.Pop(), &b);
    EXPECT_EQ(list.Pop(), &a);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Last(), nullptr);
    EXPECT_EQ(list.Current(), nullptr);
    list.Add(&d);
    EXPECT_EQ(contents(list), std::vector<void*>({&d}));
}

TEST(KbxPointerList, DeleteUnlinksAnywhere) {
    CPointerList list;
    fill(list, {&a, &b, &c});
    list.Delete(&b);
    EXPECT_EQ(contents(list), std::vector<void*>({&a, &c}));
    EXPECT_EQ(list.Pop(), &c);
    EXPECT_EQ(list.First(), &a);

    fill(list, {&b, &c, &d});
    list.Delete(&d);
    list.Delete(&d);
    list.Delete(static_cast<void*>(nullptr));
    EXPECT_EQ(list.Last(), &c);
    list.Delete(0);
    EXPECT_EQ(list.First(), &b);
    list.Delete(5);
    list.Delete(-1);
    list.Delete(1);
    EXPECT_EQ(contents(list), std::vector<void*>({&b}));
    EXPECT_EQ(list.Count(), 1);
    list.Delete(0);
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Last(), nullptr);
    fill(list, {&a});
    EXPECT_EQ(list.Count(), 1);
}

TEST(KbxPointerList, CopyAssignAndSelfAssign) {
    CPointerList source, copy;
    fill(source, {&a, &b, &c});
    fill(copy, {&d});
    copy = source;
    EXPECT_EQ(contents(copy), std::vector<void*>({&a, &b, &c}));
    EXPECT_EQ(source.Count(), 3);

    CPointerList moved;
    moved.Assign(source);
    EXPECT_EQ(source.Count(), 0);
    EXPECT_EQ(contents(moved), std::vector<void*>({&a, &b, &c}));

    CPointerList& same = moved;
    moved = same;
    EXPECT_EQ(contents(moved), std::vector<void*>({&a, &b, &c}));
    moved.Assign(moved);
    EXPECT_EQ(contents(moved), std::vector<void*>({&a, &b, &c}));
}

TEST(KbxPointerList, ArrayOperationDropsNulledEntries) {
    CPointerList list;
    EXPECT_EQ(list.BeginArrayOperation(), nullptr);
    fill(list, {&a, &b, &c});
    void** entries = list.BeginArrayOperation();
    ASSERT_NE(entries, nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(entries[0], &a);
    EXPECT_EQ(entries[2], &c);
    entries[1] = nullptr;
    std::swap(entries[0], entries[2]);
    list.EndArrayOperation();
    EXPECT_EQ(contents(list), std::vector<void*>({&c, &a}));
    EXPECT_EQ(list.array.pointers, nullptr);
    list.EndArrayOperation();
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.array.Alloc(-3), nullptr);
    EXPECT_EQ(list.array.count, 0);
}

TEST(KbxPointerList, PooledListAllocatesNothingAndReturnsItsRecords) {
    CPointerList::ItemPool pool(3);
    CPointerList list(&pool);
    std::size_t allocations = 0;
    {
        testkit::AllocationCounter counter;
        for (int round = 0; round < 4; ++round) {
            fill(list, {&a, &b, &c});
            list.Delete(&b);
            list.Clear();
        }
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(pool.available(), 3);

    // Past its size the list falls back to its own records and still gives the pool its own back.
    fill(list, {&a, &b, &c, &d});
    EXPECT_EQ(pool.available(), 0);
    EXPECT_FALSE(pool.reserve(8));
    EXPECT_EQ(contents(list), std::vector<void*>({&a, &b, &c, &d}));
    EXPECT_FALSE(list.setPool(nullptr));
    list.Clear();
    EXPECT_EQ(pool.available(), 3);
    EXPECT_TRUE(pool.reserve(8));
    EXPECT_EQ(pool.capacity(), 8);
}

TEST(KbxPrinTable, NamesEveryAsciiCode) {
    const KBX::CPrinTable& table = KBX::PrinTable;
    EXPECT_STREQ(table[128 + 65], "A");
    EXPECT_STREQ(table[128 + 127], "<DEL>");
    EXPECT_STREQ(table[128 + 0], "<NUL>");
    EXPECT_STREQ(table[128 + 9], "\t");
    EXPECT_STREQ(table[128 + 10], "\n");
    EXPECT_STREQ(table[128 + 13], "\r");
    EXPECT_STREQ(table[128 + 31], "<US>");
    EXPECT_STREQ(table[128 + 32], " ");
    EXPECT_STREQ(table[128 + 126], "~");
    EXPECT_STREQ(table.Name(8), "<BS>");
    EXPECT_EQ(table.Name(128), nullptr);
    EXPECT_EQ(table[256], nullptr);
    EXPECT_EQ(reinterpret_cast<const char* const*>(table[65]), &table.entries[128 + 65]);
    for (int code = 32; code < 127; ++code) EXPECT_EQ(table.Name(code)[0], code);
}

TEST(KbxPrinTable, HeaderStringsHoldTheirTexts) {
    EXPECT_TRUE(KBX::invalid == "null");
    EXPECT_EQ(KBX::empty.Length(), 0);
}

TEST(KbxItoa, WritesWhereItFitsAndNowhereElse) {
    const char* shared = KBX::itoa(-42, nullptr, 0);
    EXPECT_STREQ(shared, "-42");
    EXPECT_EQ(KBX::itoa(7, nullptr, 0), shared);

    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(KBX::itoa(123, buffer, sizeof buffer), buffer);
    EXPECT_STREQ(buffer, "123");

    char small[4] = {'q', 'q', 'q', 'q'};
    const char* cut = KBX::itoa(-2147483647 - 1, small, 3);
    EXPECT_STREQ(cut, "");
    EXPECT_EQ(small[3], 'q');
    EXPECT_STREQ(KBX::itoa(5, small, 0), "");
    EXPECT_STREQ(KBX::itoa(5, small, -9), "");
    EXPECT_STREQ(KBX::itoa(-5, small, 3), "-5");
}
