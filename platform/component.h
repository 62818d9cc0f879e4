#pragma once
// The common base of the program's components. It records the owner it was created with;
// ownership itself is RAII (members and std::unique_ptr), never the owner pointer.

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr) : FOwner(owner) {}
    virtual ~TComponent() = default;

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const noexcept { return FOwner; }

private:
    TComponent* FOwner;
};
