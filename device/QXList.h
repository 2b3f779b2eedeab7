#pragma once
// Locked doubly linked list used as the reply queue. Items are appended at the
// tail, so the list is in order of arrival. The list owns its nodes and the
// items in them; an item taken out (PopFront, PopBack, RemoveCurrent) belongs
// to the caller.
#include <cstdint>
#include <memory>
#include <mutex>

template <typename T>
struct QXNodeT {
    std::unique_ptr<T> Item;
    std::unique_ptr<QXNodeT> NextNode; // owns the rest of the chain
    QXNodeT* PrevNode = nullptr;
};

template <typename T>
class QXListT {
public:
    explicit QXListT(uint32_t capacity = 0) : Capacity(capacity) {}
    ~QXListT() { RemoveAll(); }
    QXListT(const QXListT&) = delete;
    QXListT& operator=(const QXListT&) = delete;

    // Recursive, so an owner holding the lock may call the list again.
    void Lock() { Mutex.lock(); }
    void Unlock() { Mutex.unlock(); }
    std::recursive_mutex& LockObject() { return Mutex; }

    bool Append(std::unique_ptr<T> item)
    {
        if (Capacity != 0)
            while (NodeCount >= Capacity)
                PopFront();
        auto node = std::make_unique<QXNodeT<T>>();
        node->Item = std::move(item);
        node->PrevNode = Tail;
        QXNodeT<T>* raw = node.get();
        if (Tail)
            Tail->NextNode = std::move(node);
        else
            Head = std::move(node);
        Tail = raw;
        ++NodeCount;
        return true;
    }

    std::unique_ptr<T> PopFront()
    {
        if (!Head)
            return nullptr;
        std::unique_ptr<QXNodeT<T>> node = std::move(Head);
        Head = std::move(node->NextNode);
        if (Head)
            Head->PrevNode = nullptr;
        else
            Tail = nullptr;
        if (Cursor == node.get())
            Cursor = nullptr;
        --NodeCount;
        return std::move(node->Item);
    }

    std::unique_ptr<T> PopBack()
    {
        if (!Tail)
            return nullptr;
        QXNodeT<T>* node = Tail;
        if (Cursor == node)
            Cursor = nullptr;
        std::unique_ptr<T> item = std::move(node->Item);
        Tail = node->PrevNode;
        if (Tail)
            Tail->NextNode.reset(); // destroys node
        else
            Head.reset();
        --NodeCount;
        return item;
    }

    // Head item (cursor moves there), or null when empty (cursor untouched).
    T* First()
    {
        if (!Head)
            return nullptr;
        Cursor = Head.get();
        return Cursor->Item.get();
    }

    // Item after the cursor (cursor moves there), or null (cursor stays).
    T* Next()
    {
        if (!Cursor || !Cursor->NextNode)
            return nullptr;
        Cursor = Cursor->NextNode.get();
        return Cursor->Item.get();
    }

    // Unlinks the item at the cursor. On the head the cursor moves to the new
    // head; on the tail it becomes null; in between it moves to the follower.
    std::unique_ptr<T> RemoveCurrent()
    {
        if (!Cursor)
            return nullptr;
        if (Cursor == Head.get()) {
            std::unique_ptr<T> item = PopFront();
            Cursor = Head.get();
            return item;
        }
        if (Cursor == Tail) {
            return PopBack();
        }
        QXNodeT<T>* node = Cursor;
        QXNodeT<T>* prev = node->PrevNode;
        std::unique_ptr<QXNodeT<T>> owned = std::move(prev->NextNode);
        prev->NextNode = std::move(owned->NextNode);
        prev->NextNode->PrevNode = prev;
        Cursor = prev->NextNode.get();
        --NodeCount;
        return std::move(owned->Item);
    }

    uint32_t Count() const { return NodeCount; }

    // Destroys every node and its item, without recursion through the chain.
    void RemoveAll()
    {
        while (Head) {
            std::unique_ptr<QXNodeT<T>> node = std::move(Head);
            Head = std::move(node->NextNode);
        }
        Tail = nullptr;
        Cursor = nullptr;
        NodeCount = 0;
    }

    const uint32_t Capacity; // 0: unlimited

private:
    std::unique_ptr<QXNodeT<T>> Head;
    QXNodeT<T>* Tail = nullptr;
    QXNodeT<T>* Cursor = nullptr;
    uint32_t NodeCount = 0;
    std::recursive_mutex Mutex;
};
