#pragma once
// Owner of one COM reference for the capture code: released when the owner goes, and by `&`
// before an out-parameter call fills it again, so every path of a function releases.

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
