#pragma once
// The service's learning-source operations under "/api/v1/learning-sources", made
// through NimboApi::shared(). They block their (worker) thread and never fail:
// every failure becomes the neutral result named below.

#include "learning/LearningSourceTypes.h"

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace nimbo {

class LearningSourcesApi {
public:
    // Every category's state in the service's order; empty on any failure.
    static std::vector<LearningSourceState> list();
    // Marks category `id` connected.
    static void connect(const QString& id);
    // Stops category `id`; `purge` also deletes what the service holds for it.
    static void disconnect(const QString& id, bool purge);
    // Uploads `items` in one request; (imported, skipped), or (0, 0) on failure.
    // No items: no request.
    static std::pair<std::int64_t, std::int64_t> sync(const QString& id, const std::vector<LearningSourceSyncItem>& items);
};

}  // namespace nimbo
