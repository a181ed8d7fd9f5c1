#include "util/options.h"

TOptions& AppOptions() {
    static TOptions options;
    return options;
}
