// The PostgreSQL cluster a test program's tests share (gtest programs only: the benchmark
// starts its own).
#pragma once

#include <gtest/gtest.h>

#include "pg_cluster.h"

// One cluster for a whole test program: initdb and a start cost more than all its tests. Each
// program that includes this registers it once; `gCluster` is null outside the run.
inline PgCluster* gCluster = nullptr;
struct PgClusterEnvironment : ::testing::Environment {
    void SetUp() override {
        gCluster = new PgCluster();
        ASSERT_EQ(gCluster->error(), "");
    }
    void TearDown() override {
        delete gCluster;
        gCluster = nullptr;
    }
};
inline const auto* const kPgClusterEnvironment =
    ::testing::AddGlobalTestEnvironment(new PgClusterEnvironment);
