#include <gtest/gtest.h>

#include "engine/delivery.h"

using namespace relayon;

TEST(Delivery, WholeLineMatchIsAnsweredWithTheSendersLineEnd) {
    RuleTable replies;
    replies.add("ping", "pong");
    Delivery d = planDelivery("ping", replies, "\n", "\r\n");
    EXPECT_TRUE(d.answered);
    EXPECT_EQ(d.text, "pong\n");
}

TEST(Delivery, AnythingElseGoesOnWithTheReceiversLineEnd) {
    RuleTable replies;
    replies.add("ping", "pong");
    for (const char* line : {"PING", "ping ", "pin", "ping ping"}) {
        Delivery d = planDelivery(line, replies, "\n", "\r\n");
        EXPECT_FALSE(d.answered) << line;
        EXPECT_EQ(d.text, std::string(line) + "\r\n");
    }
}

TEST(Delivery, EmptyLineIsAnsweredOnlyByAnEmptyKey) {
    RuleTable replies;
    replies.add("x", "y");
    EXPECT_EQ(planDelivery("", replies, "A", "B").text, "B");
    replies.add("", "empty!");
    Delivery d = planDelivery("", replies, "A", "B");
    EXPECT_TRUE(d.answered);
    EXPECT_EQ(d.text, "empty!A");
}

TEST(Delivery, AnswerIsWrittenAsStoredWithOneLineEnd) {
    RuleTable replies;
    replies.add("menu", "tea\ncoffee\n<readfile> x");
    EXPECT_EQ(planDelivery("menu", replies, "\r\n", "\n").text, "tea\ncoffee\n<readfile> x\r\n");
}
