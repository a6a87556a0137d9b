#include "Dimmer.h"

#include <algorithm>
#include <string>

using namespace veltra::kesh::zumi;

Dimmer::Dimmer(ZumiHandlerSharedPtr handler) : m_handler(std::move(handler)) {
    m_handler->subscribe(LAMP, "overheat", this);
}

Dimmer::~Dimmer() { m_handler->unsubscribe(LAMP, "overheat", this); }

int Dimmer::level() const { return m_handler->getIntProperty(LAMP, "level"); }

void Dimmer::dimBy(int step) { m_handler->setIntProperty(LAMP, "level", std::max(0, level() - step)); }

void Dimmer::onEvent(const char*, const char*, const std::list<SystemEventData>& data) {
    // Called on the main loop, which must not see an exception.
    try {
        m_handler->setIntProperty(LAMP, "level", SAFE_LEVEL);
        const int temperature = data.empty() ? 0 : data.front().getIntValue();
        m_handler->setStringProperty(LAMP, "note", ("overheat at " + std::to_string(temperature)).c_str());
    } catch (const ZumiException&) {
    }
}
