#pragma once
// The two status controls the core writes to. They keep their values themselves, so the core
// and the tests can use them as they are; the main window derives from them and mirrors each
// change into its QLabel / QProgressBar in Changed().

#include <string>

class TLabel {
public:
    virtual ~TLabel() = default;

    const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(const std::string& caption);

protected:
    virtual void Changed() {}

private:
    std::string FCaption;
};

class TProgressBar {
public:
    virtual ~TProgressBar() = default;

    int Min() const noexcept { return FMin; }
    int Max() const noexcept { return FMax; }
    int Step() const noexcept { return FStep; }
    int Position() const noexcept { return FPosition; }

    void SetMin(int value);
    void SetMax(int value);
    void SetStep(int value) { FStep = value; }
    // The position always lies between Min and Max.
    void SetPosition(int value);
    void StepBy(int delta);

protected:
    virtual void Changed() {}

private:
    int FMin = 0;
    int FMax = 100;
    int FStep = 10;
    int FPosition = 0;
};
