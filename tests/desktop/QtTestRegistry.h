#pragma once
// The test objects of test_qt: each test file registers its QTest object,
// and the one main runs them all.

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace tav::test {

using QtTestFactory = std::function<std::unique_ptr<QObject>()>;

std::vector<QtTestFactory>& QtTests();

template <typename Test>
struct RegisterQtTest {
  RegisterQtTest() {
    QtTests().push_back([] { return std::unique_ptr<QObject>(new Test); });
  }
};

}  // namespace tav::test
