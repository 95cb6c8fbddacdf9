#pragma once

#include <QTableView>

class CDownloadListModel;

// The table that shows the Download List's rows: whole rows selected, several at a time.
class COutputList final : public QTableView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(COutputList)

public:
    explicit COutputList(QWidget* parent = nullptr);

    void SetRows(CDownloadListModel* model);

    // The column of the last header click, and its direction.
    int m_nSortColumn = 0;
    bool m_bSortAscending = false;
};
