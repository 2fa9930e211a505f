#pragma once

void CheckINI();
