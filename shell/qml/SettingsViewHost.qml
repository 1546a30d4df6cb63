import Parvel

SettingsView {}
