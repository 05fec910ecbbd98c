#pragma once

#include <QWidget>
#include <string>

// The station's only window.
class TFormMain : public QWidget {
    Q_OBJECT

public:
    explicit TFormMain(std::string settingsFileName, QWidget* parent = nullptr);

    const std::string& SettingsFileName() const { return fSettingsFileName; }

private:
    std::string fSettingsFileName;
};
