#pragma once

#include "mail/PartHandler.h"

#include <memory>
#include <mutex>
#include <vector>

// The process-wide list of part handlers. It owns the handlers it holds and
// may be used from any thread.
class CPartHandlerRegistry {
public:
    // Appends the handler; a null handler is ignored.
    void Register(std::unique_ptr<CPartHandler> handler);

    // The first registered handler for the id, or null.
    const CPartHandler* Find(int id) const;

    int Count() const;

    // Registers the text and file handlers unless they are there already, so
    // any number of mail items in one run share one pair.
    void RegisterStandardHandlers(int wrapWidth);

private:
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<CPartHandler>> m_handlers;
};

// The one registry of the process, created on first use and destroyed at exit.
CPartHandlerRegistry& PartHandlerRegistry();
