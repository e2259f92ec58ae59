<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>SyncIntervals</name>
    <message>
        <source>minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>30 minutes</source>
        <translation>30 Minuten</translation>
    </message>
    <message>
        <source>hour</source>
        <translation>1 Stunde</translation>
    </message>
    <message>
        <source>12 hours</source>
        <translation>12 Stunden</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>The settings dialog has the port. Closing the dialog opens it again and sends a frame.</source>
        <translation>Der Einstellungsdialog hat den Port. Wird der Dialog geschlossen, öffnet er ihn wieder und sendet ein Telegramm.</translation>
    </message>
    <message>
        <source>Clock</source>
        <translation>Uhr</translation>
    </message>
    <message>
        <source>SYNC NOW</source>
        <translation>ABGLEICHEN</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>&amp;Setting</source>
        <translation>&amp;Einstellung</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>The display is reached again</source>
        <translation>Die Anzeige ist wieder erreichbar</translation>
    </message>
    <message>
        <source>Its clock was set at %1 on %2.</source>
        <translation>Ihre Uhr wurde am %1 über %2 gestellt.</translation>
    </message>
    <message>
        <source>Last Sync at </source>
        <translation>Abgeglichen am </translation>
    </message>
    <message>
        <source>The display is not reached</source>
        <translation>Die Anzeige ist nicht erreichbar</translation>
    </message>
    <message>
        <source>Its clock runs on its own until the port is back; Orvantide then sets it at once.</source>
        <translation>Ihre Uhr läuft für sich, bis der Port wieder da ist; Orvantide stellt sie dann sofort.</translation>
    </message>
    <message>
        <source>Port Not Open</source>
        <translation>Port nicht offen</translation>
    </message>
    <message>
        <source>Settings open: port closed</source>
        <translation>Einstellungen offen: Port geschlossen</translation>
    </message>
    <message>
        <source>The PC clock is not synchronised to a time source (since %1); the display follows it all the same.</source>
        <translation>Die Uhr des PCs ist nicht mit einer Zeitquelle abgeglichen (seit %1); die Anzeige folgt ihr trotzdem.</translation>
    </message>
    <message>
        <source>When the PC is busy, the display may be set some milliseconds late.</source>
        <translation>Ist der PC ausgelastet, kann die Anzeige einige Millisekunden zu spät gestellt werden.</translation>
    </message>
    <message>
        <source>KV7R/9R Orvantide (service)</source>
        <translation>KV7R/9R Orvantide (Dienst)</translation>
    </message>
    <message>
        <source>Orvantide (service)</source>
        <translation>Orvantide (Dienst)</translation>
    </message>
</context>
<context>
    <name>frmSetting</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Serial Port Settings</source>
        <translation>Serielle Schnittstelle</translation>
    </message>
    <message>
        <source>COM</source>
        <translation>COM</translation>
    </message>
    <message>
        <source>&amp;Port</source>
        <translation>&amp;Port</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Sync Interval</source>
        <translation>Abgleich</translation>
    </message>
    <message>
        <source>Every</source>
        <translation>Intervall</translation>
    </message>
    <message>
        <source>&amp;Every</source>
        <translation>&amp;Intervall</translation>
    </message>
    <message>
        <source>Sync interval</source>
        <translation>Abgleichintervall</translation>
    </message>
    <message>
        <source>SET</source>
        <translation>SETZEN</translation>
    </message>
    <message>
        <source>Run On Windows Startup</source>
        <translation>Mit Windows starten</translation>
    </message>
    <message>
        <source>Run at &amp;login</source>
        <translation>Beim &amp;Anmelden starten</translation>
    </message>
    <message>
        <source>Settings Done</source>
        <translation>Einstellungen gespeichert</translation>
    </message>
    <message>
        <source>The settings were not saved.

&quot;%1&quot; is not one of the intervals: %2.</source>
        <translation>Die Einstellungen wurden nicht gespeichert.

„%1“ ist keines der Intervalle: %2.</translation>
    </message>
    <message>
        <source>%1 is not there now; it is opened when it is plugged in.</source>
        <translation>%1 ist gerade nicht vorhanden; der Anschluss wird geöffnet, sobald er eingesteckt ist.</translation>
    </message>
    <message>
        <source>The settings were not saved.

%1</source>
        <translation>Die Einstellungen wurden nicht gespeichert.

%1</translation>
    </message>
    <message>
        <source>Run at login could not be changed.

%1</source>
        <translation>Der Start beim Anmelden konnte nicht geändert werden.

%1</translation>
    </message>
</context>
</TS>
