#include "mail/PartHandlerRegistry.h"

#include "mail/FilePartHandler.h"
#include "mail/TextPartHandler.h"

#include <algorithm>

void CPartHandlerRegistry::Register(std::unique_ptr<CPartHandler> handler)
{
    if (!handler)
        return;
    std::lock_guard lock(m_mutex);
    m_handlers.push_back(std::move(handler));
}

const CPartHandler* CPartHandlerRegistry::Find(int id) const
{
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_handlers.begin(), m_handlers.end(),
        [id](const std::unique_ptr<CPartHandler>& handler) { return handler->Handles(id); });
    return found == m_handlers.end() ? nullptr : found->get();
}

int CPartHandlerRegistry::Count() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_handlers.size());
}

void CPartHandlerRegistry::RegisterStandardHandlers(int wrapWidth)
{
    std::lock_guard lock(m_mutex);
    const auto has = [this](int id) {
        return std::any_of(m_handlers.begin(), m_handlers.end(),
            [id](const std::unique_ptr<CPartHandler>& handler) { return handler->Handles(id); });
    };
    if (!has(kTextPartId))
        m_handlers.push_back(std::make_unique<CTextPartHandler>(wrapWidth));
    if (!has(kFilePartId))
        m_handlers.push_back(std::make_unique<CFilePartHandler>());
}

CPartHandlerRegistry& PartHandlerRegistry()
{
    static CPartHandlerRegistry registry;
    return registry;
}
