// CObList and CStringList: doubly linked lists addressed by POSITION.
#pragma once

#include "mimeengine/platform/cobject.h"
#include "mimeengine/platform/cstring.h"

#include <utility>

struct __POSITION
{
};
typedef __POSITION* POSITION;

// List core shared by CObList and CStringList. Nodes are allocated one at a time;
// the block size is kept for callers that pass it and has no other effect.
template <class TYPE> class CFwList : public CObject
{
public:
    explicit CFwList(int nBlockSize = 10) : m_nBlockSize(nBlockSize) {}
    ~CFwList() override { RemoveAll(); }

    int GetCount() const { return m_nCount; }
    int GetSize() const { return m_nCount; }
    BOOL IsEmpty() const { return m_nCount == 0; }
    int GetBlockSize() const { return m_nBlockSize; }

    TYPE& GetHead() { return m_pHead->data; }
    const TYPE& GetHead() const { return m_pHead->data; }
    TYPE& GetTail() { return m_pTail->data; }
    const TYPE& GetTail() const { return m_pTail->data; }

    TYPE RemoveHead()
    {
        Node* p = m_pHead;
        TYPE value = std::move(p->data);
        Unlink(p);
        return value;
    }
    TYPE RemoveTail()
    {
        Node* p = m_pTail;
        TYPE value = std::move(p->data);
        Unlink(p);
        return value;
    }

    POSITION AddHead(const TYPE& value) { return InsertBefore(GetHeadPosition(), value); }
    POSITION AddTail(const TYPE& value) { return InsertAfter(GetTailPosition(), value); }

    void RemoveAll()
    {
        Node* p = m_pHead;
        while (p != nullptr)
        {
            Node* next = p->pNext;
            delete p;
            p = next;
        }
        m_pHead = m_pTail = nullptr;
        m_nCount = 0;
    }

    POSITION GetHeadPosition() const { return ToPos(m_pHead); }
    POSITION GetTailPosition() const { return ToPos(m_pTail); }

    // Returns the element at pos and moves pos to the next node (null after the tail).
    TYPE& GetNext(POSITION& pos)
    {
        Node* p = FromPos(pos);
        pos = ToPos(p->pNext);
        return p->data;
    }
    const TYPE& GetNext(POSITION& pos) const
    {
        Node* p = FromPos(pos);
        pos = ToPos(p->pNext);
        return p->data;
    }
    TYPE& GetPrev(POSITION& pos)
    {
        Node* p = FromPos(pos);
        pos = ToPos(p->pPrev);
        return p->data;
    }
    TYPE& GetAt(POSITION pos) { return FromPos(pos)->data; }
    const TYPE& GetAt(POSITION pos) const { return FromPos(pos)->data; }
    void SetAt(POSITION pos, const TYPE& value) { FromPos(pos)->data = value; }

    void RemoveAt(POSITION pos) { Unlink(FromPos(pos)); }

    // Inserting before or after a null position inserts at the head or the tail.
    POSITION InsertBefore(POSITION pos, const TYPE& value)
    {
        Node* at = FromPos(pos);
        Node* n = new Node{nullptr, nullptr, value};
        if (at == nullptr)
            at = m_pHead;
        if (at == nullptr)
        {
            m_pHead = m_pTail = n;
        }
        else
        {
            n->pNext = at;
            n->pPrev = at->pPrev;
            if (at->pPrev != nullptr)
                at->pPrev->pNext = n;
            else
                m_pHead = n;
            at->pPrev = n;
        }
        ++m_nCount;
        return ToPos(n);
    }
    POSITION InsertAfter(POSITION pos, const TYPE& value)
    {
        Node* at = FromPos(pos);
        Node* n = new Node{nullptr, nullptr, value};
        if (at == nullptr)
            at = m_pTail;
        if (at == nullptr)
        {
            m_pHead = m_pTail = n;
        }
        else
        {
            n->pPrev = at;
            n->pNext = at->pNext;
            if (at->pNext != nullptr)
                at->pNext->pPrev = n;
            else
                m_pTail = n;
            at->pNext = n;
        }
        ++m_nCount;
        return ToPos(n);
    }

    // First node at or after startAfter's successor whose element equals value, or null.
    POSITION Find(const TYPE& value, POSITION startAfter = nullptr) const
    {
        Node* p = startAfter != nullptr ? FromPos(startAfter)->pNext : m_pHead;
        for (; p != nullptr; p = p->pNext)
            if (p->data == value)
                return ToPos(p);
        return nullptr;
    }
    POSITION FindIndex(int nIndex) const
    {
        if (nIndex < 0 || nIndex >= m_nCount)
            return nullptr;
        Node* p = m_pHead;
        while (nIndex-- > 0)
            p = p->pNext;
        return ToPos(p);
    }

private:
    struct Node : __POSITION
    {
        Node(Node* next, Node* prev, const TYPE& value) : pNext(next), pPrev(prev), data(value) {}
        Node* pNext;
        Node* pPrev;
        TYPE data;
    };
    static POSITION ToPos(Node* p) { return p; }
    static Node* FromPos(POSITION pos) { return static_cast<Node*>(pos); }
    void Unlink(Node* p)
    {
        if (p->pPrev != nullptr)
            p->pPrev->pNext = p->pNext;
        else
            m_pHead = p->pNext;
        if (p->pNext != nullptr)
            p->pNext->pPrev = p->pPrev;
        else
            m_pTail = p->pPrev;
        delete p;
        --m_nCount;
    }

    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    int m_nCount = 0;
    int m_nBlockSize;
};

// List of object pointers; it never owns or deletes the objects.
class CObList : public CFwList<CObject*>
{
public:
    explicit CObList(int nBlockSize = 10) : CFwList<CObject*>(nBlockSize) {}
};

class CStringList : public CFwList<CString>
{
public:
    explicit CStringList(int nBlockSize = 10) : CFwList<CString>(nBlockSize) {}
};
