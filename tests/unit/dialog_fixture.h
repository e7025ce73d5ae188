// A main dialog over the fake platform, with its console output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

#include "FakePlatform.h"
#include "QuorvelDlg.h"

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    // Runs `action` and keeps what it wrote to standard output and error.
    void Capture(const std::function<void()>& action)
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        action();
        std::cout.flush();
        std::cerr.flush();
        std::fflush(stdout);
        std::fflush(stderr);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
    }

    fake::State& platform() { return fake::Get(); }

    CWinApp app;  // the dialog loads its icon through the application
    CQuorvelDlg dlg;
    std::string out;
    std::string err;
};

// The header line of every successful exchange in these tests.
constexpr char kDateLine[] = "Date: Thu, 13 Feb 2025 11:46:19 GMT";
