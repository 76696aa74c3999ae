#pragma once

#include "app/application.h"
#include "core/operator_log.h"
