// The interactive program's lines in the journal (Journal.h): what its worker did to the drive
// the operator chose, from the claim to the outcome, as the program's own code says it.
#pragma once

#include <memory>

namespace cli {

// Keeps the journal for the interactive program for as long as it lives: it is the program's
// run observer meanwhile. A journal that could not be written is said on standard error when
// it ends, after the program's screen is gone.
class InteractiveJournal {
public:
    InteractiveJournal();
    ~InteractiveJournal();
    InteractiveJournal(const InteractiveJournal&) = delete;
    InteractiveJournal& operator=(const InteractiveJournal&) = delete;

private:
    struct Observer;
    std::unique_ptr<Observer> m_observer;
};

} // namespace cli
