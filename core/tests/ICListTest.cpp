#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/ICErrors.h"
#include "core/ICList.h"
#include "core/ICObjList.h"

namespace {

struct Numbered : ICListItem {
    explicit Numbered(int n) : number(n) {}
    int number;
};

// Walks the list both ways and checks that the links agree with the count.
std::vector<int> Order(ICList& list) {
    std::vector<int> forward;
    const ICListItem* last = nullptr;
    for (ICListItem* item = list.GetHead(); item != nullptr; item = item->next) {
        EXPECT_EQ(item->prev, last);
        forward.push_back(static_cast<Numbered*>(item)->number);
        last = item;
    }
    EXPECT_EQ(list.GetTail(), last);
    EXPECT_EQ(list.GetCount(), int32_t(forward.size()));
    return forward;
}

// A list that owns the items of a test.
class NumberList : public ICList {
public:
    explicit NumberList(int n) {
        for (int i = 0; i < n; ++i) {
            AddTail(new Numbered(i));
        }
    }
    ~NumberList() override { RemoveAll(true); }
    Numbered* At(int index) { return static_cast<Numbered*>(GetAt(index)); }

    // Simulates links left stale by code that edited the chain by hand.
    void ForgetTail() { tail = nullptr; }
    void ForgetCount() { count = 0; }
};

using Numbers = std::vector<int>;

}  // namespace

TEST(ICList, IndexRules) {
    NumberList list(3);
    EXPECT_EQ(list.GetAt(-1), nullptr);
    EXPECT_EQ(list.GetAt(3), nullptr);
    EXPECT_EQ(list.At(2)->number, 2);
    EXPECT_EQ(list.IndexOf(list.GetAt(1)), 1);
    Numbered stranger(9);
    EXPECT_EQ(list.IndexOf(&stranger), -1);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
    EXPECT_FALSE(list.Contains(&stranger));
    EXPECT_TRUE(list.Contains(list.GetTail()));
}

TEST(ICList, InsertAtNegativeIndexInsertsAtHeadAndBeyondCountAppends) {
    NumberList list(2);
    list.InsertAt(-3, new Numbered(7));
    list.InsertAt(10, new Numbered(8));
    list.InsertAt(1, new Numbered(9));
    EXPECT_EQ(Order(list), (Numbers{7, 9, 0, 1, 8}));
    list.InsertBefore(nullptr, new Numbered(5));
    list.InsertBefore(list.GetHead(), new Numbered(4));
    EXPECT_EQ(Order(list), (Numbers{4, 7, 9, 0, 1, 8, 5}));
}

TEST(ICList, RefusesToLinkAnItemTwice) {
    NumberList list(2);
    EXPECT_EQ(list.AddTail(list.GetHead()), nullptr);
    EXPECT_EQ(list.InsertAt(0, list.GetTail()), nullptr);
    EXPECT_EQ(list.AddTail(nullptr), nullptr);
    EXPECT_EQ(Order(list), (Numbers{0, 1}));
}

TEST(ICList, RecountsStaleTailOrCount) {
    NumberList list(4);
    list.ForgetTail();
    EXPECT_EQ(list.At(3)->number, 3);
    EXPECT_EQ(Order(list), (Numbers{0, 1, 2, 3}));
    list.ForgetCount();
    EXPECT_EQ(list.GetCount(), 4);
    list.ForgetTail();
    list.AddTail(new Numbered(4));
    EXPECT_EQ(Order(list), (Numbers{0, 1, 2, 3, 4}));
    list.ForgetCount();
    ICListItem* removed = list.RemoveAt(4, false);  // GetAt must not see an empty list
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(static_cast<Numbered*>(removed)->number, 4);
    delete removed;
    EXPECT_EQ(Order(list), (Numbers{0, 1, 2, 3}));
}

TEST(ICList, RemoveUnlinksAndDeletesOnRequest) {
    NumberList list(4);
    ICListItem* kept = list.RemoveAt(1, false);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->next, nullptr);
    EXPECT_EQ(kept->prev, nullptr);
    EXPECT_EQ(list.RemoveAt(0, true), nullptr);
    EXPECT_EQ(Order(list), (Numbers{2, 3}));
    EXPECT_FALSE(list.Remove(kept, true));  // no longer in the list: left alone
    EXPECT_EQ(list.RemoveAt(5, true), nullptr);
    EXPECT_TRUE(list.Remove(list.GetTail(), true));
    EXPECT_EQ(Order(list), (Numbers{2}));
    delete kept;
}

TEST(ICList, ClearLinksForgetsItemsWithoutTouchingThem) {
    Numbered a(0), b(1);
    {
        ICList list;
        list.AddTail(&a);
        list.AddTail(&b);
        list.ClearLinks();
        EXPECT_EQ(list.GetCount(), 0);
        EXPECT_EQ(list.GetHead(), nullptr);
        EXPECT_EQ(list.GetTail(), nullptr);
    }  // the destructor does not free the items either
    EXPECT_EQ(a.next, &b);
    a.next = nullptr;
    b.prev = nullptr;
}

TEST(ICList, MoveOperations) {
    NumberList list(5);
    list.MoveAt(0, 3);  // 3 before 0
    EXPECT_EQ(Order(list), (Numbers{3, 0, 1, 2, 4}));
    list.MoveAt(4, 0);  // 3 before 4
    EXPECT_EQ(Order(list), (Numbers{0, 1, 2, 3, 4}));
    list.MoveAt(99, 1);  // to the end
    EXPECT_EQ(Order(list), (Numbers{0, 2, 3, 4, 1}));
    list.MoveAt(2, 2);
    list.MoveAt(0, 99);
    EXPECT_EQ(Order(list), (Numbers{0, 2, 3, 4, 1}));
    list.MoveToIndex(0, list.GetTail());
    EXPECT_EQ(Order(list), (Numbers{1, 0, 2, 3, 4}));
    list.MoveToIndex(-5, list.GetAt(2));
    EXPECT_EQ(Order(list), (Numbers{2, 1, 0, 3, 4}));
    list.MoveBefore(nullptr, list.GetHead());
    EXPECT_EQ(Order(list), (Numbers{1, 0, 3, 4, 2}));
    list.MoveBefore(list.GetAt(1), list.GetAt(3));
    EXPECT_EQ(Order(list), (Numbers{1, 4, 0, 3, 2}));
}

TEST(ICList, SwapAdjacentAndDistantItems) {
    NumberList list(5);
    list.SwapAt(1, 2);
    EXPECT_EQ(Order(list), (Numbers{0, 2, 1, 3, 4}));
    list.SwapAt(2, 1);  // adjacent the other way round
    EXPECT_EQ(Order(list), (Numbers{0, 1, 2, 3, 4}));
    list.SwapAt(0, 4);  // head and tail
    EXPECT_EQ(Order(list), (Numbers{4, 1, 2, 3, 0}));
    list.SwapAt(3, 1);
    EXPECT_EQ(Order(list), (Numbers{4, 3, 2, 1, 0}));
    list.Swap(list.GetAt(3), list.GetTail());  // adjacent at the tail
    EXPECT_EQ(Order(list), (Numbers{4, 3, 2, 0, 1}));
    list.SwapAt(0, 9);
    list.SwapAt(2, 2);
    EXPECT_EQ(Order(list), (Numbers{4, 3, 2, 0, 1}));
}

TEST(ICList, ReplaceLinksTheNewItemInTheOldPlace) {
    NumberList list(3);
    auto* fresh = new Numbered(7);
    ICListItem* old = list.ReplaceAt(0, fresh);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->next, nullptr);
    EXPECT_EQ(Order(list), (Numbers{7, 1, 2}));
    auto* last = new Numbered(8);
    ICListItem* oldTail = list.GetTail();
    EXPECT_TRUE(list.Replace(oldTail, last));
    EXPECT_EQ(Order(list), (Numbers{7, 1, 8}));
    EXPECT_EQ(oldTail->prev, nullptr);
    delete oldTail;
    EXPECT_EQ(list.ReplaceAt(3, old), nullptr);
    delete old;
    ICListItem* middle = list.GetAt(1);
    auto* center = new Numbered(9);
    EXPECT_TRUE(list.Replace(middle, center));
    EXPECT_EQ(Order(list), (Numbers{7, 9, 8}));
    delete middle;
}

TEST(ICList, LockIsCreatedOnFirstUseAndIsRecursive) {
    ICList list;
    ICCondition* condition = list.GetCondition();
    ASSERT_NE(condition, nullptr);
    EXPECT_EQ(list.GetCondition(), condition);
    list.Lock();
    EXPECT_TRUE(list.TryLock());
    list.Unlock();
    list.Unlock();
    EXPECT_EQ(list.Wait(0), kICTimedOut);
    list.Signal();
    EXPECT_EQ(list.Wait(0), kICOk);
}

TEST(ICList, ConcurrentFirstLockSharesOneCondition) {
    for (int round = 0; round < 20; ++round) {
        ICList list;
        ICCondition* seen[4] = {};
        std::vector<std::thread> threads;
        for (auto& slot : seen) {
            threads.emplace_back([&list, &slot] { slot = list.GetCondition(); });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (ICCondition* condition : seen) {
            EXPECT_EQ(condition, seen[0]);
        }
    }
}

TEST(ICList, WaitWakesOnSignalFromProducer) {
    NumberList list(0);
    std::thread producer([&list] {
        list.Lock();
        list.AddTail(new Numbered(1));
        list.Unlock();
        list.Signal();
    });
    EXPECT_EQ(list.Wait(), kICOk);
    producer.join();
    list.Lock();
    EXPECT_EQ(list.GetCount(), 1);
    list.Unlock();
}

namespace {

struct Counted {
    explicit Counted(int* destroyed) : destroyed(destroyed) {}
    ~Counted() { ++*destroyed; }
    int* destroyed;
};

struct Released {
    int references = 1;
};

struct ReleaseDeleter {
    void operator()(Released* object) const { --object->references; }
};

}  // namespace

TEST(ICObjList, DestroysItsObjects) {
    int destroyed = 0;
    {
        ICObjListT<Counted> list;
        for (int i = 0; i < 4; ++i) {
            list.AddObject(new Counted(&destroyed));
        }
        list.RemoveAt(0, true);
        EXPECT_EQ(destroyed, 1);
        Counted* second = list.GetObjectAt(1);
        EXPECT_TRUE(list.RemoveObject(second, true));
        EXPECT_EQ(destroyed, 2);
        EXPECT_EQ(list.GetCount(), 2);
    }
    EXPECT_EQ(destroyed, 4);
}

TEST(ICObjList, RemovingWithoutDeleteHandsTheObjectOver) {
    int destroyed = 0;
    Counted* taken;
    Counted* removed;
    {
        ICObjListT<Counted> list;
        auto* first = new Counted(&destroyed);
        auto* second = new Counted(&destroyed);
        list.AddObject(first);
        list.AddObject(second);
        list.AddObject(new Counted(&destroyed));
        taken = list.TakeObjectAt(0);
        EXPECT_EQ(taken, first);
        EXPECT_TRUE(list.RemoveObject(second, false));
        removed = second;
        EXPECT_FALSE(list.RemoveObject(second, false));
        EXPECT_EQ(list.TakeObjectAt(5), nullptr);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
    delete taken;
    delete removed;
    EXPECT_EQ(destroyed, 3);
}

TEST(ICObjList, RemoveAllWithoutDeleteKeepsTheObjects) {
    int destroyed = 0;
    Counted first(&destroyed);
    Counted second(&destroyed);
    ICObjListT<Counted> list;
    list.AddObject(&first);
    list.AddObject(&second);
    list.RemoveAll(false);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(destroyed, 0);
}

TEST(ICObjList, ObjectOperationsFindTheirHolders) {
    ICObjListT<int> list;
    int* a = new int(1);
    int* b = new int(2);
    int* c = new int(3);
    list.AddObject(a);
    list.InsertObjectAt(0, b);
    list.InsertObjectBefore(a, c);  // b c a
    EXPECT_EQ(list.IndexOfObject(c), 1);
    EXPECT_EQ(ICObjListT<int>::ObjectOf(list.FindHolder(a)), a);
    EXPECT_EQ(list.FindHolder(nullptr), nullptr);
    EXPECT_EQ(list.AddObject(nullptr), nullptr);
    list.MoveObjectToIndex(0, a);  // a b c
    EXPECT_EQ(*list.GetHeadObject(), 1);
    list.MoveObjectBefore(b, c);  // a c b
    EXPECT_EQ(*list.GetObjectAt(1), 3);
    list.SwapObjects(a, b);  // b c a
    EXPECT_EQ(*list.GetHeadObject(), 2);
    EXPECT_EQ(*list.GetTailObject(), 1);
    EXPECT_TRUE(list.ContainsObject(c));
}

TEST(ICObjList, UsesTheListsDeleter) {
    Released object;
    {
        ICObjListT<Released, ReleaseDeleter> list;
        list.AddObject(&object);
    }
    EXPECT_EQ(object.references, 0);
}
