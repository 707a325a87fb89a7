#include <gtest/gtest.h>

#include "values/VBagLoader.h"
#include "values/VUUID.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

VUUID FreshUUID()
{
    VUUID uuid;
    uuid.Regenerate();
    return uuid;
}

bool Same(const VUUID& a, const VUUID& b) { return a.EqualToSameKind(&b, true); }

}  // namespace

TEST(BagKeyLoader, UUIDKeyLeavesOutTheNullUUID)
{
    VValueBag* bag = new VValueBag();
    VUUID null;
    null.SetNull(true);
    BagKeys::uuid.Set(*bag, null);
    EXPECT_EQ(bag->GetAttributesCount(), 0);
    EXPECT_TRUE(BagKeys::uuid.Get(*bag).IsNull());
    VUUID id = FreshUUID();
    BagKeys::uuid.Set(*bag, id);
    EXPECT_EQ(bag->GetAttributesCount(), 1);
    EXPECT_TRUE(Same(BagKeys::uuid.Get(*bag), id));
    bag->Release();
}

TEST(BagKeyLoader, WithoutRegeneration)
{
    VBagLoader loader(false, false);
    VValueBag* bag = new VValueBag();
    VUUID id = FreshUUID();
    BagKeys::uuid.Set(*bag, id);
    VUUID out;
    EXPECT_TRUE(loader.GetUUID(*bag, out));
    EXPECT_TRUE(Same(out, id));
    VValueBag* bare = new VValueBag();
    EXPECT_FALSE(loader.GetUUID(*bare, out));
    EXPECT_FALSE(out.IsNull());
    EXPECT_TRUE(loader.ResolveUUID(id));
    bare->Release();
    bag->Release();
}

TEST(BagKeyLoader, RegenerationIsConsistent)
{
    VBagLoader loader(true, false);
    VUUID old = FreshUUID();
    VValueBag* first = new VValueBag();
    VValueBag* second = new VValueBag();
    BagKeys::uuid.Set(*first, old);
    BagKeys::uuid.Set(*second, old);
    VUUID a;
    VUUID b;
    EXPECT_TRUE(loader.GetUUID(*first, a));
    EXPECT_TRUE(loader.GetUUID(*second, b));
    EXPECT_FALSE(Same(a, old));
    EXPECT_TRUE(Same(a, b));
    VUUID resolved = old;
    EXPECT_TRUE(loader.ResolveUUID(resolved));
    EXPECT_TRUE(Same(resolved, a));
    VUUID unknown = FreshUUID();
    VUUID copy = unknown;
    EXPECT_FALSE(loader.ResolveUUID(copy));
    EXPECT_TRUE(Same(copy, unknown));
    VValueBag* bare = new VValueBag();
    EXPECT_FALSE(loader.GetUUID(*bare, a));
    bare->Release();
    first->Release();
    second->Release();
}

}  // namespace qelt
