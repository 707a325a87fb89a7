// The multi-criteria sort over plain test columns: selection pass and
// quicksort agree, keys rank in priority order, descending keys invert only
// themselves, passengers follow every exchange, and unorderable elements
// never hang the sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "values/ISortable.h"

namespace qelt {
namespace {

// A column of ints; counts the exchanges it is asked for.
class Column : public ISortable {
public:
    explicit Column(std::vector<int> values) : fValues(std::move(values)) {}

    unsigned char* LockAndGetData() const override
    {
        ++fLocks;
        return reinterpret_cast<unsigned char*>(const_cast<int*>(fValues.data()));
    }
    void UnlockData() const override { ++fUnlocks; }
    void SwapElements(unsigned char* data, int i, int j) override
    {
        int* v = reinterpret_cast<int*>(data);
        std::swap(v[i], v[j]);
        ++fSwaps;
    }
    CompareResult CompareElements(unsigned char* data, int i, int j) override
    {
        const int* v = reinterpret_cast<const int*>(data);
        return v[i] < v[j] ? CR_SMALLER : (v[i] > v[j] ? CR_BIGGER : CR_EQUAL);
    }

    std::vector<int> fValues;
    mutable int fLocks = 0;
    mutable int fUnlocks = 0;
    int fSwaps = 0;
};

// Answers "cannot be ordered" for every pair.
class Unorderable : public Column {
public:
    using Column::Column;
    CompareResult CompareElements(unsigned char*, int, int) override { return CR_UNRELEVANT; }
};

void SortOne(Column& c, bool descending, int lo, int hi)
{
    ISortable* list[] = {&c, nullptr};
    unsigned char flag = descending ? 1 : 0;
    ISortable::MultiCriteriaQSort(list, &flag, 1, lo, hi);
}

TEST(Sortable, SelectionPassAndQuicksortOrderAlike)
{
    for (int n : {2, 3, 9, 10, 11, 64, 1000}) {
        std::vector<int> values;
        for (int i = 0; i < n; ++i)
            values.push_back((i * 7919 + 13) % (n / 2 + 1));  // with duplicates
        for (bool descending : {false, true}) {
            Column c(values);
            SortOne(c, descending, 0, n - 1);
            std::vector<int> expected = values;
            if (descending)
                std::sort(expected.begin(), expected.end(), std::greater<int>());
            else
                std::sort(expected.begin(), expected.end());
            EXPECT_EQ(c.fValues, expected) << "n " << n << " descending " << descending;
            EXPECT_EQ(c.fLocks, 1);
            EXPECT_EQ(c.fUnlocks, 1);
        }
    }
}

TEST(Sortable, SortsOnlyTheRange)
{
    Column c({9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 9, 9, 9});
    SortOne(c, false, 1, 11);
    EXPECT_EQ(c.fValues, (std::vector<int>{9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9}));
}

TEST(Sortable, TinyRangesAreLeftAlone)
{
    Column c({3, 1, 2});
    SortOne(c, false, 1, 1);
    SortOne(c, false, 2, 1);
    EXPECT_EQ(c.fValues, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(c.fLocks, 0);  // nothing locked, nothing allocated
    EXPECT_EQ(c.fSwaps, 0);
}

TEST(Sortable, AllEqualEndsAfterOnePartition)
{
    Column c(std::vector<int>(50, 4));
    SortOne(c, false, 0, 49);
    EXPECT_EQ(c.fValues, std::vector<int>(50, 4));
    EXPECT_LE(c.fSwaps, 3);  // pivot move, one exchange of the scans, pivot back
}

TEST(Sortable, SecondKeyOrdersRunsAndPassengerFollows)
{
    for (int n : {9, 40}) {
        std::vector<int> k1, k2, rows;
        for (int i = 0; i < n; ++i) {
            k1.push_back((i * 5) % 3);
            k2.push_back((i * 11) % 7);
            rows.push_back(i);
        }
        for (bool secondDescending : {false, true}) {
            Column a(k1), b(k2), passenger(rows);
            ISortable* list[] = {&a, &b, &passenger, nullptr};
            unsigned char flags[] = {0, static_cast<unsigned char>(secondDescending ? 1 : 0)};
            ISortable::MultiCriteriaQSort(list, flags, 2, 0, n - 1);
            for (int i = 0; i < n; ++i) {
                int row = passenger.fValues[i];
                EXPECT_EQ(a.fValues[i], k1[row]);
                EXPECT_EQ(b.fValues[i], k2[row]);
                if (i > 0) {
                    ASSERT_LE(a.fValues[i - 1], a.fValues[i]);
                    if (a.fValues[i - 1] == a.fValues[i]) {
                        if (secondDescending)
                            EXPECT_GE(b.fValues[i - 1], b.fValues[i]);
                        else
                            EXPECT_LE(b.fValues[i - 1], b.fValues[i]);
                    }
                }
            }
        }
    }
}

TEST(Sortable, CompareRuleAndSwapRule)
{
    Column a({1, 1, 2}), b({5, 3, 3}), c({0, 1, 2});
    ISortable* list[] = {&a, &b, &c, nullptr};
    unsigned char* data[] = {a.LockAndGetData(), b.LockAndGetData(), c.LockAndGetData()};
    unsigned char asc[] = {0, 0};
    unsigned char mixed[] = {0, 1};
    EXPECT_EQ(ISortable::MultiCriteriaCompare(list, data, asc, 2, 0, 1), CR_BIGGER);
    EXPECT_EQ(ISortable::MultiCriteriaCompare(list, data, mixed, 2, 0, 1), CR_SMALLER);
    EXPECT_EQ(ISortable::MultiCriteriaCompare(list, data, asc, 1, 0, 1), CR_EQUAL);
    ISortable::MultiCriteriaSwap(list, data, 0, 2);
    EXPECT_EQ(a.fValues, (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(b.fValues, (std::vector<int>{3, 3, 5}));
    EXPECT_EQ(c.fValues, (std::vector<int>{2, 1, 0}));

    Unorderable u({1, 2});
    ISortable* ulist[] = {&u, nullptr};
    unsigned char* udata[] = {u.LockAndGetData()};
    unsigned char desc[] = {1};
    EXPECT_EQ(ISortable::MultiCriteriaCompare(ulist, udata, asc, 1, 0, 1), CR_UNRELEVANT);
    EXPECT_EQ(ISortable::MultiCriteriaCompare(ulist, udata, desc, 1, 0, 1), CR_BIGGER);
}

TEST(Sortable, UnorderableElementsStillEnd)
{
    std::vector<int> values;
    for (int i = 0; i < 100; ++i)
        values.push_back(i);
    for (bool descending : {false, true}) {
        Unorderable many(values);
        SortOne(many, descending, 0, 99);
        EXPECT_EQ(many.fUnlocks, 1);
    }
    // The selection pass never picks a later element as the greatest: each
    // round exchanges the first element of the range with its end.
    Unorderable few({4, 3, 2, 1});
    SortOne(few, false, 0, 3);
    EXPECT_EQ(few.fValues, (std::vector<int>{3, 2, 1, 4}));
}

}  // namespace
}  // namespace qelt
