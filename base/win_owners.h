#pragma once
// Owners for Windows resources, so that every path of a function releases what it acquired.
#include <windows.h>
#include <objbase.h>

// One COM reference: released when the owner goes, and by `&` before an out-parameter call
// fills it again.
template <class T>
class ComOwner {
public:
    ComOwner() = default;
    explicit ComOwner(T* adopted) : pointer_(adopted) {}
    ~ComOwner() { Reset(); }
    ComOwner(const ComOwner&) = delete;
    ComOwner& operator=(const ComOwner&) = delete;

    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    T** operator&()
    {
        Reset();
        return &pointer_;
    }
    // Takes over `adopted` (a reference the caller owned), releasing the old one.
    void Attach(T* adopted)
    {
        Reset();
        pointer_ = adopted;
    }
    void Reset()
    {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }
    // Hands the reference to the caller.
    T* Detach()
    {
        T* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }

private:
    T* pointer_ = nullptr;
};

// A kernel handle closed with CloseHandle; null and INVALID_HANDLE_VALUE both mean none.
struct HandleOwner {
    HANDLE handle = nullptr;
    explicit HandleOwner(HANDLE adopted) : handle(adopted) {}
    ~HandleOwner()
    {
        if (Valid()) CloseHandle(handle);
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    bool Valid() const { return handle && handle != INVALID_HANDLE_VALUE; }
};

// A string the system allocated with CoTaskMemAlloc (known folders, shell items, attributes).
struct CoTaskText {
    PWSTR text = nullptr;
    CoTaskText() = default;
    ~CoTaskText() { CoTaskMemFree(text); }
    CoTaskText(const CoTaskText&) = delete;
    CoTaskText& operator=(const CoTaskText&) = delete;
};
