// The running copy's endpoint, answered while the test's event loop turns.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <future>

#include "shell/InstanceProtocol.h"
#include "shell/InstanceServer.h"
#include "tests/support/TempFolder.h"

namespace {
std::optional<int32_t> Ask(const std::vector<uint8_t>& request, const std::string& endpoint) {
    auto answer =
        std::async(std::launch::async, [&] { return SendInstanceRequest(request, endpoint); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        5000));
    return answer.get();
}

struct Received {
    quint32 Kind;
    QByteArray Data;
};
}  // namespace

TEST(InstanceServer, AnswersCopyDataAndActivate) {
    TempFolder temp;
    const std::string endpoint = temp.File("endpoint");
    std::vector<Received> received;
    InstanceServer server([&](quint32 kind, const QByteArray& data) {
        received.push_back({kind, data});
        return 1;
    });
    ASSERT_TRUE(server.Listen(QString::fromStdString(endpoint)))
        << server.ErrorText().toStdString();
    QSignalSpy activated(&server, &InstanceServer::ActivateRequested);

    EXPECT_EQ(Ask(EncodeCopyData(0, std::string("AB305\0x", 7)), endpoint), 1);
    EXPECT_EQ(Ask(EncodeCopyData(1, "other"), endpoint), 1);
    EXPECT_EQ(Ask(EncodeActivate(), endpoint), 1);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].Kind, 0u);
    EXPECT_EQ(received[0].Data, QByteArray("AB305\0x", 7));
    EXPECT_EQ(received[1].Kind, 1u);
    EXPECT_EQ(activated.count(), 1);
}

TEST(InstanceServer, DropsWhatIsNotItsProtocol) {
    TempFolder temp;
    const std::string endpoint = temp.File("endpoint");
    int calls = 0;
    InstanceServer server([&](quint32, const QByteArray&) { return ++calls; });
    ASSERT_TRUE(server.Listen(QString::fromStdString(endpoint)));
    EXPECT_FALSE(Ask({'G', 'E', 'T'}, endpoint).has_value());
    std::vector<uint8_t> huge = EncodeCopyData(0, "");
    huge[8] = 0x7F;  // claims far more than a message may carry
    EXPECT_FALSE(Ask(huge, endpoint).has_value());
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(Ask(EncodeActivate(), endpoint), 1);  // still serving
}

TEST(InstanceServer, ReplacesTheSocketOfADeadCopy) {
    TempFolder temp;
    const std::string endpoint = temp.File("endpoint");
    {
        InstanceServer first([](quint32, const QByteArray&) { return 1; });
        ASSERT_TRUE(first.Listen(QString::fromStdString(endpoint)));
    }
    std::ofstream(endpoint).put('x');  // a left-over file where the socket was
    InstanceServer second([](quint32, const QByteArray&) { return 1; });
    EXPECT_TRUE(second.Listen(QString::fromStdString(endpoint)));
    EXPECT_EQ(Ask(EncodeActivate(), endpoint), 1);
}

TEST(InstanceServer, ACopyThatIsStillStartingIsWaitedFor) {
    TempFolder temp;
    const std::string endpoint = temp.File("endpoint");
    auto answer = std::async(std::launch::async, [&] {
        return SendInstanceRequest(EncodeActivate(), endpoint, instance::AnswerWaitMs,
                                   /*retryConnect=*/true);
    });
    QTest::qWait(3 * instance::ConnectRetryMs);  // nobody listens yet
    InstanceServer server([](quint32, const QByteArray&) { return 1; });
    ASSERT_TRUE(server.Listen(QString::fromStdString(endpoint)));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        2 * instance::AnswerWaitMs));
    EXPECT_EQ(answer.get(), 1);
}
