#pragma once

#include <QtGlobal>

// How many pictures the caption command works on at once by default: the CPUs this process may
// run on (its CPU affinity, which a scheduler such as Slurm narrows to the task's CPUs) and, where
// its control group caps its CPU time (a container's CPU limit), that quota rounded up; at least 1.
int UsableCpuCount();

// The CPUs a control group's CPU quota amounts to: `quota` microseconds of CPU time in every
// `period`, rounded up; 0 when there is no quota (a quota of -1, "max", or nonsense).
int CpusOfQuota(qint64 quota, qint64 period);
