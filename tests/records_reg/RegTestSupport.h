#pragma once
// Fixture of the registry, file-id map and group record tests: streams in a scratch folder,
// text dumps and saved bytes read back as strings.
#include "RecordTestSupport.h"

namespace regtest {

class RecordFixture : public kvotest::RecordStreamFixture {
protected:
    RecordFixture() : RecordStreamFixture(L"records-reg") {}
};

} // namespace regtest
