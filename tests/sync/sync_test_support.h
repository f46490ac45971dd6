// The sample application in fresh folders with the database its
// reorganization makes, for the synchronization tests.
#pragma once

#include <gtest/gtest.h>
#include <qn/offline.h>

#include <future>
#include <memory>

#include "support/test_support.h"

namespace qn::test {

// The scope keeps the bundle and folders; the database is made (result 2).
inline std::unique_ptr<ScopedBundle> sampleApplicationWithDatabase() {
    auto scope = std::make_unique<ScopedBundle>(QN_SAMPLE_BUNDLE_DIR);
    auto& manager = QNDBManager::sharedInstance();
    manager.resetDatabaseConnections();
    std::promise<int> created;
    manager.createDatabaseIfNeededWithCompletionBlock(
        [&created](int result, const std::optional<QNError>&) { created.set_value(result); });
    EXPECT_EQ(created.get_future().get(), 2);
    return scope;
}

// Ends what sampleApplicationWithDatabase began.
inline void closeSampleApplication(std::unique_ptr<ScopedBundle>& scope) {
    QNDBManager::sharedInstance().waitUntilNoCreationRuns();
    scope.reset();
    QNDBManager::sharedInstance().resetDatabaseConnections();
    QNThreadErrorHandler::errorHandler().clear();
}

}  // namespace qn::test
