#include "sealed/MasterKeyDerivation.h"

#include <new>
#include <sodium.h>
#include <system_error>

CMasterKeyDerivation::~CMasterKeyDerivation()
{
    if (m_worker.joinable())
        m_worker.join();
    sodium_memzero(m_password.data(), m_password.size());
}

bool CMasterKeyDerivation::Start(std::string_view password, const SealedKdfParameters& parameters)
{
    if (m_bStarted || !StartSodium())
        return false;
    m_password.assign(password);
    m_parameters = parameters;
    randombytes_buf(m_salt.data(), m_salt.size());
    m_bStarted = true;
    try {
        m_worker = std::thread([this] { Derive(); });
    } catch (const std::system_error&) {
        // Finish derives the key on its own thread.
    } catch (const std::bad_alloc&) {
    }
    return true;
}

bool CMasterKeyDerivation::IsFor(std::string_view password, const SealedKdfParameters& parameters) const
{
    return m_bStarted && !m_bFinished && m_parameters.opsLimit == parameters.opsLimit
        && m_parameters.memLimit == parameters.memLimit && m_password.size() == password.size()
        && (password.empty() || sodium_memcmp(m_password.data(), password.data(), password.size()) == 0);
}

void CMasterKeyDerivation::Derive() { m_bDerived = DeriveMasterKey(m_password, m_salt.data(), m_parameters, m_master); }

bool CMasterKeyDerivation::Finish()
{
    if (!m_bStarted || m_bFinished)
        return false;
    if (m_worker.joinable())
        m_worker.join();
    else
        Derive();
    m_bFinished = true;
    return m_bDerived;
}
