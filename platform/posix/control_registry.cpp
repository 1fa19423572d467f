// The registry of controls by name.
#include "platform/dispatch_control.h"

namespace kx {

void ControlRegistry::add(std::string progId, Factory factory) {
    std::lock_guard lock(m_mutex);
    m_factories[std::move(progId)] = std::move(factory);
}

std::unique_ptr<DispatchControl> ControlRegistry::create(std::string_view progId) const {
    Factory factory;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_factories.find(progId);
        if (found == m_factories.end()) return nullptr;
        factory = found->second;
    }
    return factory ? factory() : nullptr;
}

}  // namespace kx
