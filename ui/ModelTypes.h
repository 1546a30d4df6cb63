#pragma once

#include "model/ParvelModel.h"
#include "model/TaskHandle.h"

#include <QtQml/qqmlregistration.h>

// The model's classes under their own names in QML, so views can declare
// `required property ParvelModel model`. The model library knows nothing of
// QML; the names are given here.
struct ParvelModelForeign {
    Q_GADGET
    QML_FOREIGN(ParvelModel)
    QML_NAMED_ELEMENT(ParvelModel)
    QML_UNCREATABLE("The application model is made by the program.")
};

struct TaskHandleForeign {
    Q_GADGET
    QML_FOREIGN(TaskHandle)
    QML_NAMED_ELEMENT(TaskHandle)
    QML_UNCREATABLE("Tasks are started by the model.")
};
