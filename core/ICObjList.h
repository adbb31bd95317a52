#pragma once

#include <cstdint>
#include <memory>

#include "core/ICList.h"

// A list of arbitrary objects. Each object sits in a small holder item whose payload is the
// object; the list owns its objects: removing with the delete option, and destroying the list,
// destroys them. Every holder remembers how its object is destroyed, so one list may hold
// objects that are freed with `delete` as well as reference-counted ones that are released.
//
// The item operations of ICList work on the holders; destroying a holder destroys its object.
// The object operations below take and return the objects themselves. ICObjListT<T> gives the
// same operations typed.
class ICObjList : public ICList {
public:
    using ObjectDeleter = void (*)(void* object);

    // The item that carries one object.
    class Holder : public ICListItem {
    public:
        Holder(void* object, ObjectDeleter deleter) : deleter(deleter) { payload = object; }
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;
        // Destroys the object unless it was released.
        ~Holder() override;

        void* GetObject() const { return payload; }
        // Gives up the object without destroying it.
        void* ReleaseObject();

    private:
        ObjectDeleter deleter;
    };

    ICObjList() = default;
    // Removes every holder and destroys every object.
    ~ICObjList() override;

    // Every holder is freed; the objects are destroyed with deleteItems, otherwise they are
    // left to whoever else holds them.
    void RemoveAll(bool deleteItems) override;

    // The object of a holder of this list (or of any holder), null for null.
    static void* ObjectOf(const ICListItem* holder) {
        return holder == nullptr ? nullptr : holder->payload;
    }

    void* GetObjectAt(int32_t index) const { return ObjectOf(GetAt(index)); }
    // The holder of object, or null.
    ICListItem* FindHolder(const void* object) const;
    int32_t IndexOfObject(const void* object) const;
    bool ContainsObject(const void* object) const { return FindHolder(object) != nullptr; }
    // These take ownership of object and return its holder (null for a null object, in which
    // case nothing is owned).
    ICListItem* AddObject(void* object, ObjectDeleter deleter);
    ICListItem* InsertObjectAt(int32_t index, void* object, ObjectDeleter deleter);
    // Inserts before the holder of objectAtPosition; a null or absent position appends.
    ICListItem* InsertObjectBefore(const void* objectAtPosition, void* object,
                                   ObjectDeleter deleter);
    void MoveObjectToIndex(int32_t index, const void* object);
    void MoveObjectBefore(const void* objectAtPosition, const void* object);
    void SwapObjects(const void* a, const void* b);
    // Removes the holder of object; with deleteObject the object is destroyed, otherwise the
    // caller owns it from now on. False when the object is not in the list.
    bool RemoveObject(void* object, bool deleteObject);
    // Removes the object at index from the list and hands it to the caller; null when out of
    // range.
    void* TakeObjectAt(int32_t index);
};

// A list of objects of one type, destroyed with Deleter (by default `delete`).
template <typename T, typename Deleter = std::default_delete<T>>
class ICObjListT : public ICObjList {
public:
    static T* ObjectOf(const ICListItem* holder) {
        return static_cast<T*>(ICObjList::ObjectOf(holder));
    }

    T* GetObjectAt(int32_t index) const { return ObjectOf(GetAt(index)); }
    T* GetHeadObject() const { return ObjectOf(GetHead()); }
    T* GetTailObject() const { return ObjectOf(GetTail()); }
    ICListItem* AddObject(T* object) { return ICObjList::AddObject(object, &DeleteObject); }
    ICListItem* InsertObjectAt(int32_t index, T* object) {
        return ICObjList::InsertObjectAt(index, object, &DeleteObject);
    }
    ICListItem* InsertObjectBefore(const T* objectAtPosition, T* object) {
        return ICObjList::InsertObjectBefore(objectAtPosition, object, &DeleteObject);
    }
    T* TakeObjectAt(int32_t index) { return static_cast<T*>(ICObjList::TakeObjectAt(index)); }

private:
    static void DeleteObject(void* object) { Deleter()(static_cast<T*>(object)); }
};
