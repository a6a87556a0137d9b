#ifndef DIMMER_H
#define DIMMER_H

// A small application of the library: it dims the lamp service's level and
// drops it to a safe level when the lamp reports overheating.

#include <list>

#include <zumi/zumi.h>

class Dimmer : public veltra::kesh::zumi::SystemEventListener {
public:
    static constexpr const char* LAMP = "com.example.lamp";
    static constexpr int SAFE_LEVEL = 10;

    explicit Dimmer(veltra::kesh::zumi::ZumiHandlerSharedPtr handler);
    ~Dimmer();

    int level() const;
    // Lowers the lamp's level by `step`, never below 0.
    void dimBy(int step);
    void onEvent(const char* source, const char* event,
                 const std::list<SystemEventData>& data) override;

private:
    veltra::kesh::zumi::ZumiHandlerSharedPtr m_handler;
};

#endif
