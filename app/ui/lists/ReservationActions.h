#pragma once

class CRecSchedule;
class CVideoWindowList;
class IEngineHost;

// Deletes a reservation the way the lists do: its event loses the reserved mark, its tuner stops
// recording it and goes idle when it was the tuner's current one, and it leaves the list with its
// wake-up trigger.
void DeleteReservation(IEngineHost& host, CVideoWindowList& windows, CRecSchedule* reservation);
