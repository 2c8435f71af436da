#include "regthingseditor.h"

#include "devicepool.h"
#include "runnerhost.h"
#include "thingsregtablemodel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

RegThingsEditor::RegThingsEditor(QWidget *parent)
    : QWidget(parent), m_model(new ThingsRegTableModel(this)), m_view(new QTableView(this)),
      m_forgetButton(new QPushButton(tr("Forget Selected"), this))
{
    setWindowTitle(tr("Form"));
    m_view->setObjectName(QStringLiteral("thingsView"));
    m_view->setAccessibleName(tr("Known devices"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView *header = m_view->horizontalHeader();
    for (int column = 0; column < 3; ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(3, QHeaderView::Stretch);

    // Named so that the button's clicked() reaches on_forgetButton_clicked().
    m_forgetButton->setObjectName(QStringLiteral("forgetButton"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_forgetButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    layout->addLayout(buttons);

    QMetaObject::connectSlotsByName(this);
}

RegThingsEditor::~RegThingsEditor() = default;

void RegThingsEditor::sync()
{
    m_model->load(DevicePool::read());
}

void RegThingsEditor::on_forgetButton_clicked()
{
    QList<QJsonObject> entries;
    const QModelIndexList selected = m_view->selectionModel()->selectedRows(0);
    for (const QModelIndex &index : selected)
        entries.append(m_model->records().value(index.row()));
    if (entries.isEmpty() || !m_host)
        return;
    m_host->call(&CxgatewRunner::forgetPoolEntries, entries).then(this, [this](const QJsonObject &pool) {
        m_model->load(pool);
        emit modified();
    });
}
