#ifndef ZUMI_BENCH_SUPPORT_INTPUBLISHER_H
#define ZUMI_BENCH_SUPPORT_INTPUBLISHER_H

#include <zumi/ZumiHandler.h>

namespace zumi {
namespace bench {

// The cheapest publisher there is, so that a figure measures the path to it
// and not the publisher itself.
class IntPublisher : public veltra::kesh::zumi::ZumiHandler::ZumiPropertyPublisher<int> {
public:
    explicit IntPublisher(int value) : m_value(value) {}
    void getValue(const char*, int* value) override { *value = m_value; }
    void setValue(const char*, int value) override { m_value = value; }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return true; }

private:
    int m_value;
};

}  // namespace bench
}  // namespace zumi

#endif
