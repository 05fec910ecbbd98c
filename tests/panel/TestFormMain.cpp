#include "UnitMain.h"

#include <gtest/gtest.h>

TEST(FormMain, OpensWithTheStationTitleAndItsFixedClientArea) {
    TFormMain form("unused.dat");
    form.show();
    EXPECT_EQ(form.windowTitle(), "Control-7710/12 (1.1.2)");
    EXPECT_EQ(form.size(), QSize(489, 777));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}
