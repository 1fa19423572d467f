// The registry of controls by name.
#include "platform/dispatch_control.h"

namespace kx {

void ControlRegistry::add(std::string progId, Factory factory) {
    std::lock_guard lock(m_mutex);
    m_factories[std::move(progId)] = std::move(factory);
}

ControlRegistry::Factory ControlRegistry::find(std::string_view progId) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_factories.find(progId);
    return found == m_factories.end() ? Factory() : found->second;
}

std::unique_ptr<DispatchControl> ControlRegistry::create(std::string_view progId) const {
    const Factory factory = find(progId);
    return factory ? factory() : nullptr;
}

}  // namespace kx
