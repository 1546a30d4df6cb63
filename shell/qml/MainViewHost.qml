import Parvel

MainView {}
