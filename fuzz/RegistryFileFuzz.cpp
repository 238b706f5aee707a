// The settings file reader against hostile files: whatever it takes in, it writes out in a form it
// reads back to the same keys and values.
#include "config/ConfigError.h"
#include "config/RegistryFile.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool sameKeys(const config::RegistryFile& a, const config::RegistryFile& b) {
    if (a.keys().size() != b.keys().size())
        return false;
    for (const config::RegistryKey& k : a.keys()) {
        const config::RegistryKey* other = b.key(k.path);
        if (!other || other->path != k.path || other->values().size() != k.values().size())
            return false;
        for (const config::RegistryValue& v : k.values()) {
            const config::RegistryValue* w = other->find(v.name);
            if (!w || w->name != v.name || w->type != v.type || w->data != v.data)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    config::RegistryFile file;
    try {
        file =
            config::RegistryFile::parse(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const config::ConfigError&) {
        return 0;
    }
    const config::RegistryFile again = config::RegistryFile::parse(file.toBytes());
    if (!again.problems().isEmpty() || !sameKeys(file, again))
        std::abort();
    return 0;
}
