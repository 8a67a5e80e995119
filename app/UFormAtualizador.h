#pragma once

#include <QWidget>

class TfrmPrincipal : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPrincipal(QWidget* parent = nullptr);
};
