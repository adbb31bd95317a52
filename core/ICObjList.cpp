#include "core/ICObjList.h"

ICObjList::Holder::~Holder() {
    if (payload != nullptr && deleter != nullptr) {
        deleter(payload);
    }
}

void* ICObjList::Holder::ReleaseObject() {
    void* object = payload;
    payload = nullptr;
    return object;
}

ICObjList::~ICObjList() {
    RemoveAll(true);
}

void ICObjList::RemoveAll(bool deleteItems) {
    if (deleteItems) {
        ICList::RemoveAll(true);
        return;
    }
    // Without delete the holders would be lost with nobody to free them: free them here.
    while (ICListItem* last = GetTail()) {
        if (!Remove(last, false)) {
            ClearLinks();
            break;
        }
        if (auto* holder = dynamic_cast<Holder*>(last)) {
            holder->ReleaseObject();
            delete holder;
        }
    }
}

ICListItem* ICObjList::FindHolder(const void* object) const {
    if (object == nullptr) {
        return nullptr;
    }
    for (ICListItem* holder = GetHead(); holder != nullptr; holder = holder->next) {
        if (holder->payload == object) {
            return holder;
        }
    }
    return nullptr;
}

int32_t ICObjList::IndexOfObject(const void* object) const {
    return IndexOf(FindHolder(object));
}

ICListItem* ICObjList::AddObject(void* object, ObjectDeleter deleter) {
    return InsertObjectBefore(nullptr, object, deleter);
}

ICListItem* ICObjList::InsertObjectAt(int32_t index, void* object, ObjectDeleter deleter) {
    if (object == nullptr) {
        return nullptr;
    }
    return InsertAt(index, new Holder(object, deleter));
}

ICListItem* ICObjList::InsertObjectBefore(const void* objectAtPosition, void* object,
                                          ObjectDeleter deleter) {
    if (object == nullptr) {
        return nullptr;
    }
    return InsertBefore(FindHolder(objectAtPosition), new Holder(object, deleter));
}

void ICObjList::MoveObjectToIndex(int32_t index, const void* object) {
    if (ICListItem* holder = FindHolder(object)) {
        MoveToIndex(index, holder);
    }
}

void ICObjList::MoveObjectBefore(const void* objectAtPosition, const void* object) {
    if (ICListItem* holder = FindHolder(object)) {
        MoveBefore(FindHolder(objectAtPosition), holder);
    }
}

void ICObjList::SwapObjects(const void* a, const void* b) {
    Swap(FindHolder(a), FindHolder(b));
}

bool ICObjList::RemoveObject(void* object, bool deleteObject) {
    ICListItem* holder = FindHolder(object);
    if (holder == nullptr || !Remove(holder, false)) {
        return false;
    }
    auto* ownHolder = dynamic_cast<Holder*>(holder);
    if (!deleteObject) {
        if (ownHolder == nullptr) {
            return true;  // an item linked in directly: it is the object, the caller keeps it
        }
        ownHolder->ReleaseObject();
    }
    delete holder;
    return true;
}

void* ICObjList::TakeObjectAt(int32_t index) {
    ICListItem* holder = RemoveAt(index, false);
    if (holder == nullptr) {
        return nullptr;
    }
    auto* ownHolder = dynamic_cast<Holder*>(holder);
    if (ownHolder == nullptr) {
        return holder->payload;  // an item linked in directly
    }
    void* object = ownHolder->ReleaseObject();
    delete ownHolder;
    return object;
}
