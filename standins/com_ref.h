#pragma once
// Owner of one COM reference: released on destruction, and by `&` before an out-parameter call
// fills it again.

template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* adopted) : pointer_(adopted) {}
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    T** operator&()
    {
        Reset();
        return &pointer_;
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
